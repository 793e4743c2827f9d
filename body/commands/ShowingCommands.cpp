#include "ShowingCommands.h"

#include "batch/CommandTable.h"
#include "util/Numbers.h"

#include <QAbstractButton>
#include <QTabWidget>

void registerShowingCommands(CommandTable &table, const ShowingParts &parts)
{
    using C = CommandTable;
    QTabWidget *tabs = parts.tabs;
    const auto showsTab = [tabs](int index) {
        return C::effect([tabs, index](const BatchCmd &) { tabs->setCurrentIndex(index); });
    };
    table.add("show_tab", "n", "bring tab n to the front",
              C::effect([tabs](const BatchCmd &c) { tabs->setCurrentIndex(c.argInt(0)); }));
    table.add("show_orig", "", "bring the raw image tab to the front", showsTab(0));
    table.add("show_sinogram", "", "bring the sinogram tab to the front", showsTab(1));
    table.add("show_ct1", "", "bring the CT1 tab to the front", showsTab(2));
    table.add("show_i0", "", "bring the I0 image tab to the front", showsTab(3));
    table.add("show_bg", "", "bring the BG image tab to the front", showsTab(4));
    // The engines' tabs follow the five fixed ones.
    table.add("show_ct2", "n", "bring engine n's tab to the front (0: the first engine)",
              C::effect([tabs](const BatchCmd &c) {
                  tabs->setCurrentIndex(
                      Numbers::saturateToInt(static_cast<double>(c.argInt(0)) + 5));
              }));
    QAbstractButton *fix = parts.fixColorScale;
    table.add("fix_color_scale", "f", "fixed colour scale of result pictures",
              C::effect([fix](const BatchCmd &c) { fix->setChecked(c.argFlag(0)); }));
    table.add("fix_color_min", "v", "lower end of the fixed colour scale",
              C::effect([set = parts.setColorMin](const BatchCmd &c) { set(c.argDouble(0)); }));
    table.add("fix_color_max", "v", "upper end of the fixed colour scale",
              C::effect([set = parts.setColorMax](const BatchCmd &c) { set(c.argDouble(0)); }));
}

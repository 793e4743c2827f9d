#include "AdditionalInfoCommands.h"

#include "batch/CommandTable.h"
#include "body/I0ofImage.h"
#include "select/SelectAFile.h"
#include "select/SelectDataDir.h"
#include "ui_I0ofImage.h"
#include "util/Numbers.h"

namespace {

using Answer = CommandTable::Answer;

// The words of an I0 panel are its prefix and one of these.
QList<CommandTable::Word> i0Words(const QString &of)
{
    return {{"val", "v", "I0 value of " + of},
            {"from_xafs", "f", "I0 of " + of + " calculated from the XAFS file"},
            {"xafs", "FILE", "XAFS file of " + of},
            {"xafs_clear", "", "clear the XAFS file of " + of},
            {"eng_ptn", "s", "energy pattern of " + of}};
}

CommandTable::PrefixHandler setsI0Info(I0ofImage *panel)
{
    return [panel](const BatchCmd &c, const QString &suffix, CommandTable::Origin) {
        Ui::I0ofImage *form = panel->form();
        if (suffix == QLatin1String("val"))
            form->I0Val->setText(Numbers::text(c.argDouble(0)));
        else if (suffix == QLatin1String("from_xafs"))
            form->CalcFromXAFS->setChecked(c.argFlag(0));
        else if (suffix == QLatin1String("xafs"))
            form->XafsFile->fileSelected0(c.argText(0));
        else if (suffix == QLatin1String("xafs_clear"))
            form->XafsFile->clear0();
        else if (suffix == QLatin1String("eng_ptn"))
            form->EngPattern->setText(c.argText(0));
        return Answer::Ok;
    };
}

} // namespace

void registerAdditionalInfoCommands(CommandTable &table, const AdditionalInfoParts &parts)
{
    using C = CommandTable;
    QWidget *frame = parts.frame;
    SelectDataDir *dirs = parts.dataDirs;
    table.add("add_inf_show", "f",
              "show the additional-information frame (also switches the data directory naming "
              "to \"KVN Std.\")",
              C::effect([frame](const BatchCmd &c) { frame->setVisible(c.argFlag(0)); }));
    // Scripts rely on the same word switching the naming standard of data directories.
    table.add("add_inf_show", "", "",
              C::effect([dirs](const BatchCmd &c) { dirs->setIsKVNStandard(c.argFlag(0)); }));
    table.addPrefix("add_inf_raw_i0_", i0Words("the raw images"), setsI0Info(parts.rawI0));
    table.addPrefix("add_inf_i0_i0_", i0Words("the I0 image"), setsI0Info(parts.i0I0));
}

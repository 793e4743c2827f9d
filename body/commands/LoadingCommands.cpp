#include "LoadingCommands.h"

#include "batch/CommandTable.h"
#include "disp/SeekCtrl.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataFiles.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>

namespace {

// "New" and "Add" of a file list are addressed by their object names.
void checkLoadNew(SelectDataFiles *files, bool loadNew)
{
    const QString name = loadNew ? QStringLiteral("LoadNewFiles") : QStringLiteral("AddFiles");
    if (auto *button = files->findChild<QRadioButton *>(name))
        button->setChecked(true);
}

void setMultiLoad(SelectDataFiles *files, bool on, int times)
{
    if (auto *multi = files->findChild<QCheckBox *>(QStringLiteral("LoadMultiTimes")))
        multi->setChecked(on);
    if (auto *field = files->findChild<QLineEdit *>(QStringLiteral("MultiTimes")))
        field->setText(QString::number(times));
}

void registerImageCommands(CommandTable &table, const QString &kind, SelectAImgFile *picker)
{
    using C = CommandTable;
    table.add(kind + QStringLiteral("_load"), QStringLiteral("FILE"),
              QStringLiteral("take FILE as the %1 image").arg(kind.toUpper()),
              C::effect([picker](const BatchCmd &c) { picker->fileSelected0(c.argText(0)); }));
    table.add(kind + QStringLiteral("_clear"), QString(),
              QStringLiteral("clear the %1 image").arg(kind.toUpper()),
              C::effect([picker](const BatchCmd &) { picker->clear0(); }));
    table.add(kind + QStringLiteral("_exp_time"), QStringLiteral("v"),
              QStringLiteral("exposure time of the %1 image").arg(kind.toUpper()),
              C::effect([picker](const BatchCmd &c) { picker->setExpTime(c.argDouble(0)); }));
}

} // namespace

void registerLoadingCommands(CommandTable &table, const LoadingParts &parts)
{
    using C = CommandTable;
    SelectDataFiles *files = parts.projections;
    SeekCtrl *seek = parts.seek;
    table.add(
        "images_load", "DIR PATTERN...",
        "select the projection files of DIR matching the patterns and load them",
        C::effect([files](const BatchCmd &c) { files->selectDir(c.argText(0), c.argsFrom(1)); }));
    table.add("images_new_on_load", "f", "check \"New\" (off: \"Add\") of the projection list",
              C::effect([files](const BatchCmd &c) { checkLoadNew(files, c.argFlag(0)); }));
    table.add("images_add_on_load", "f", "check \"Add\" (off: \"New\") of the projection list",
              C::effect([files](const BatchCmd &c) { checkLoadNew(files, !c.argFlag(0)); }));
    table.add("images_clear", "", "empty the projection list",
              C::effect([files](const BatchCmd &) { files->clearFiles(); }));
    table.add("images_exp_time", "v", "exposure time of the projections",
              C::effect([files](const BatchCmd &c) { files->setExpTime(c.argDouble(0)); }));
    table.add(
        "images_multi", "f N", "\"Multi.\": load the selection N times",
        C::effect([files](const BatchCmd &c) { setMultiLoad(files, c.argFlag(0), c.argInt(1)); }));
    table.add("images_seek", "n", "show projection n (limited to the stack)",
              C::effect([seek](const BatchCmd &c) {
                  seek->setIndex(std::clamp(c.argInt(0), 0, seek->maximum()));
              }));
    registerImageCommands(table, QStringLiteral("i0"), parts.i0);
    registerImageCommands(table, QStringLiteral("bg"), parts.bg);
}

#include "SavingCommands.h"

#include "batch/CommandTable.h"
#include "ct/ResultLayout.h"
#include "select/SelectAFile.h"

#include <QAbstractButton>
#include <QDebug>
#include <QDir>

namespace {

using Answer = CommandTable::Answer;

CommandTable::Handler checks(QAbstractButton *box)
{
    return CommandTable::effect([box](const BatchCmd &c) { box->setChecked(c.argFlag(0)); });
}

// A result name or tag is one file-name component; one that could lead the saver
// out of its folder is refused, the old value kept, and the line answers ng.
CommandTable::Handler setsNamePart(SelectAFile *row, void (SelectAFile::*set)(const QString &))
{
    return [row, set](const BatchCmd &c, CommandTable::Origin) {
        if (!ResultLayout::isNamePartAllowed(c.argText(0))) {
            qDebug() << "Result name or tag not allowed (separator or \"..\")" << c.argText(0);
            return Answer::Ng;
        }
        (row->*set)(c.argText(0));
        return Answer::Ok;
    };
}

// `saving` says what the box saves, `what` names those files in the other lines.
void registerRow(CommandTable &table, const QString &kind, const QString &saving,
                 const QString &what, QAbstractButton *box, SelectAFile *row)
{
    const QString word = QStringLiteral("auto_save_") + kind;
    table.add(word, QStringLiteral("f"), saving, checks(box));
    table.add(word + QStringLiteral("_path"), QStringLiteral("s"),
              QStringLiteral("save folder of %1 (created at once)").arg(what),
              CommandTable::effect([row](const BatchCmd &c) {
                  const QString folder = c.argText(0);
                  row->setPath(folder);
                  if (!folder.isEmpty())
                      QDir().mkpath(folder);
              }));
    table.add(word + QStringLiteral("_name"), QStringLiteral("s"),
              QStringLiteral("base name of %1").arg(what),
              setsNamePart(row, &SelectAFile::setName));
    table.add(word + QStringLiteral("_tag"), QStringLiteral("s"),
              QStringLiteral("tag of %1").arg(what), setsNamePart(row, &SelectAFile::setAddTag));
    table.add(word + QStringLiteral("_clear"), QString(),
              QStringLiteral("empty the save folder and base name of %1 (tag kept)").arg(what),
              CommandTable::effect([row](const BatchCmd &) {
                  row->setPath(QString());
                  row->setName(QString());
              }));
}

} // namespace

void registerSavingCommands(CommandTable &table, const SavingParts &parts)
{
    registerRow(table, QStringLiteral("image"), QStringLiteral("save PNG pictures of the results"),
                QStringLiteral("the pictures"), parts.saveImage, parts.imageFolder);
    registerRow(table, QStringLiteral("data"),
                QStringLiteral("save the results' data (.dat, or the format of "
                               "auto_save_data_format)"),
                QStringLiteral("the data files"), parts.saveData, parts.dataFolder);
    table.add("auto_save_in_sub_folders", "f", "save in sub folders", checks(parts.subFolders));
    table.add("auto_save_in_sub_folders_of_slice", "f", "sub folders per slice",
              checks(parts.subOfSlice));
    table.add("auto_save_in_sub_folders_of_energy", "f", "sub folders per energy",
              checks(parts.subOfEnergy));
}

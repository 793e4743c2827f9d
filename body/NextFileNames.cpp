#include "NextFileNames.h"

#include "ct/ResultLayout.h"
#include "disp/ProcCtrl.h"
#include "select/SelectAFile.h"
#include "ui_Body.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>

NextFileNames::NextFileNames(Ui::Body *form, QObject *parent)
    : QObject(parent)
    , ui(form)
{
    for (SelectAFile *row : {ui->SelectImageSaveDir, ui->SelectDataSaveDir})
        connect(row, &SelectAFile::namesChanged, this, &NextFileNames::show);
    for (QAbstractButton *box : {static_cast<QAbstractButton *>(ui->AutoSaveImage),
                                 static_cast<QAbstractButton *>(ui->AutoSaveData),
                                 static_cast<QAbstractButton *>(ui->SaveInSubFolders),
                                 static_cast<QAbstractButton *>(ui->SubOfEnergy),
                                 static_cast<QAbstractButton *>(ui->SubOfSlice)})
        connect(box, &QAbstractButton::toggled, this, &NextFileNames::show);
    connect(ui->procCtrl, &ProcCtrl::sliceNoUpdated, this, &NextFileNames::show);
    connect(ui->procCtrl, &ProcCtrl::autoExecUpdated, this, &NextFileNames::show);
    if (auto *from = ui->procCtrl->findChild<QLineEdit *>(QStringLiteral("SliceFrom")))
        connect(from, &QLineEdit::textChanged, this, &NextFileNames::show);
    show();
}

void NextFileNames::show()
{
    const ProcCtrl *proc = ui->procCtrl;
    const QString no = sliceNumberText(proc->autoExec() ? proc->from() : proc->sliceNo());
    const ResultLayout layout{ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
                              ui->SubOfSlice->isChecked()};
    const struct
    {
        SelectAFile *row;
        const QCheckBox *on;
        const char *extension;
    } rows[] = {{ui->SelectImageSaveDir, ui->AutoSaveImage, "png"},
                {ui->SelectDataSaveDir, ui->AutoSaveData, "dat"}};
    for (const auto &r : rows) {
        const QString path = r.row->path();
        const QStringList folders = layout.foldersOf(path, r.row->addTag(), no);
        if (!r.on->isChecked() || path.isEmpty() || folders.isEmpty()) {
            r.row->setNextFile(QString(), QString());
            continue;
        }
        const QString file = ResultLayout::fileName(r.row->name(), r.row->addTag(), no,
                                                    QString::fromLatin1(r.extension));
        const QDir base(path);
        const QString whole = QDir(folders.first()).filePath(file);
        r.row->setNextFile(QDir(base.dirName()).filePath(base.relativeFilePath(whole)), whole);
    }
}

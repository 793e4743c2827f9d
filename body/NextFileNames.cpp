#include "NextFileNames.h"

#include "ct/ResultLayout.h"
#include "disp/ProcCtrl.h"
#include "select/SelectAFile.h"
#include "ui_Body.h"

#include <QCheckBox>
#include <QComboBox>
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
    if (const QComboBox *format = dataFormat())
        connect(format, &QComboBox::currentTextChanged, this, &NextFileNames::show);
    show();
}

const QComboBox *NextFileNames::dataFormat() const
{
    return parent() ? parent()->findChild<QComboBox *>(QStringLiteral("DataFormat")) : nullptr;
}

void NextFileNames::show()
{
    // The data row names the files the chosen format writes: .dat, .tif, both or .h5.
    const QString format = dataFormat() ? dataFormat()->currentText() : QString();
    const QStringList dataExtensions = format == QLatin1String("tiff")   ? QStringList{"tif"}
                                       : format == QLatin1String("both") ? QStringList{"dat", "tif"}
                                                                         : QStringList{"dat"};
    const ProcCtrl *proc = ui->procCtrl;
    const QString no = sliceNumberText(proc->autoExec() ? proc->from() : proc->sliceNo());
    const ResultLayout layout{ui->SaveInSubFolders->isChecked(), ui->SubOfEnergy->isChecked(),
                              ui->SubOfSlice->isChecked()};
    const struct
    {
        SelectAFile *row;
        const QCheckBox *on;
        QStringList extensions;
    } rows[] = {{ui->SelectImageSaveDir, ui->AutoSaveImage, {"png"}},
                {ui->SelectDataSaveDir, ui->AutoSaveData, dataExtensions}};
    for (const auto &r : rows) {
        const QString path = r.row->path();
        const QStringList folders = layout.foldersOf(path, r.row->addTag(), no);
        if (!r.on->isChecked() || path.isEmpty() || folders.isEmpty()) {
            r.row->setNextFile(QString(), QString());
            continue;
        }
        const QDir base(path);
        QStringList shown, whole;
        // HDF5: one file per set, where the set's run record goes.
        if (r.on == ui->AutoSaveData && format == QLatin1String("h5")) {
            whole << QDir(layout.recordFolder(path, r.row->addTag()))
                         .filePath(QStringLiteral("%1-%2.h5").arg(r.row->name(), r.row->addTag()));
            shown << QDir(base.dirName()).filePath(base.relativeFilePath(whole.last()));
        }
        for (const QString &extension : whole.isEmpty() ? r.extensions : QStringList()) {
            const QString file =
                ResultLayout::fileName(r.row->name(), r.row->addTag(), no, extension);
            whole << QDir(folders.first()).filePath(file);
            // The second name only differs in its extension.
            shown << (shown.isEmpty()
                          ? QDir(base.dirName()).filePath(base.relativeFilePath(whole.last()))
                          : file);
        }
        r.row->setNextFile(shown.join(QStringLiteral(", ")), whole.join(QLatin1Char('\n')));
    }
}

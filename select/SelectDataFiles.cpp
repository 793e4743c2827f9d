#include "SelectDataFiles.h"

#include "ui_SelectDataFiles.h"

#include "disp/FieldFit.h"

#include "config/DataRoot.h"
#include "util/Numbers.h"

#include <QButtonGroup>
#include <QDebug>
#include <QDir>
#include <QFileDialog>

namespace {
const int maxMultiTimes = 100000;
} // namespace

SelectDataFiles::SelectDataFiles(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDataFiles>())
    , fileDialog(std::make_unique<QFileDialog>(nullptr, QString(), DataRoot::dialogStart()))
{
    ui->setupUi(this);
    FieldFit::fit(ui->ExpTime, FieldFit::numberSample());
    FieldFit::fit(ui->MultiTimes, QString::number(-maxMultiTimes));
    newOrAdd = new QButtonGroup(this);
    newOrAdd->setExclusive(true);
    newOrAdd->addButton(ui->LoadNewFiles);
    newOrAdd->addButton(ui->AddFiles);
    ui->LoadNewFiles->setChecked(true);

    fileDialog->setFileMode(QFileDialog::ExistingFiles);
    fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    fileDialog->setNameFilters(
        {tr("Itex File (*.img)"), tr("Tiff File (*.tif *.tiff)"), tr("Any Files (* *.*)")});

    connect(ui->Select, SIGNAL(clicked()), fileDialog.get(), SLOT(show()));
    connect(fileDialog.get(), &QFileDialog::filesSelected, this, &SelectDataFiles::filesChosen);
    connect(ui->Clear, SIGNAL(clicked()), this, SLOT(clearFiles()));
    connect(ui->Selected, SIGNAL(currentIndexChanged(int)), this, SIGNAL(currentIndexChanged(int)));
}

SelectDataFiles::~SelectDataFiles() = default;

void SelectDataFiles::showCount()
{
    ui->Count->setText(QString::number(ui->Selected->count()));
}

void SelectDataFiles::clearFiles()
{
    ui->Selected->clear();
    showCount();
    emit filesCleared();
}

void SelectDataFiles::prev()
{
    const int idx = ui->Selected->currentIndex();
    if (idx > 0)
        ui->Selected->setCurrentIndex(idx - 1);
}

void SelectDataFiles::next()
{
    const int idx = ui->Selected->currentIndex();
    if (idx + 1 < ui->Selected->count())
        ui->Selected->setCurrentIndex(idx + 1);
}

void SelectDataFiles::select(int idx)
{
    if (idx >= 0 && idx < ui->Selected->count())
        ui->Selected->setCurrentIndex(idx);
}

void SelectDataFiles::setExpTime(double time)
{
    ui->ExpTime->setText(Numbers::text(time));
}

double SelectDataFiles::expTime()
{
    return Numbers::toFiniteDouble(ui->ExpTime->text());
}

void SelectDataFiles::addFileName(QString name)
{
    ui->Selected->addItem(name);
    showCount();
}

void SelectDataFiles::selectDir(QString dir, QStringList patterns)
{
    fileDialog->setDirectory(dir);
    loadDir(dir, patterns);
}

void SelectDataFiles::loadDir(QString dir, QStringList patterns)
{
    if (ui->LoadNewFiles->isChecked()) {
        clearFiles();
        qDebug().noquote() << QStringLiteral("File list emptied before the files of %1 are "
                                             "listed (Load new files is on)")
                                  .arg(QDir::toNativeSeparators(dir));
    }
    QStringList files;
    // No pattern matches nothing; an empty filter list would list every entry.
    if (!patterns.isEmpty()) {
        QDir directory(dir);
        directory.setNameFilters(patterns);
        for (const QFileInfo &info : directory.entryInfoList())
            files.append(info.absoluteFilePath());
    }
    filesChosen(files);
}

void SelectDataFiles::loadFileInfoList(QFileInfoList list)
{
    QStringList files;
    files.reserve(list.size());
    for (const QFileInfo &info : list)
        files.append(info.filePath());
    filesChosen(files);
}

int SelectDataFiles::multiTimes() const
{
    return Numbers::toInt(ui->MultiTimes->text());
}

void SelectDataFiles::hideLoadOptions(bool f)
{
    if (f)
        ui->LoadNewFiles->setChecked(true);
    ui->LoadNewFiles->setHidden(f);
    ui->AddFiles->setHidden(f);
    ui->KeepConditions->setHidden(f);
    ui->LoadMultiTimes->setHidden(f);
    ui->MultiTimes->setHidden(f);
}

void SelectDataFiles::setLoadNew(bool f)
{
    (f ? ui->LoadNewFiles : ui->AddFiles)->setChecked(true);
}

void SelectDataFiles::setMulti(bool f, int times)
{
    ui->LoadMultiTimes->setChecked(f);
    ui->MultiTimes->setText(QString::number(times));
}

void SelectDataFiles::setTitle(const QString &title)
{
    ui->Title->setText(title);
}

void SelectDataFiles::setSelectButtonText(const QString &text)
{
    ui->Select->setText(text);
}

QStringList SelectDataFiles::fileNames() const
{
    QStringList names;
    for (int i = 0; i < ui->Selected->count(); ++i)
        names.append(ui->Selected->itemText(i));
    return names;
}

QString SelectDataFiles::fileName(int idx) const
{
    return ui->Selected->itemText(idx);
}

int SelectDataFiles::count() const
{
    return ui->Selected->count();
}

int SelectDataFiles::currentIndex() const
{
    return ui->Selected->currentIndex();
}

bool SelectDataFiles::keepConditions() const
{
    return ui->KeepConditions->isChecked();
}

bool SelectDataFiles::loadsNewFiles() const
{
    return ui->LoadNewFiles->isChecked();
}

void SelectDataFiles::filesChosen(QStringList files)
{
    const bool newFiles = ui->LoadNewFiles->isChecked();
    if (newFiles)
        clearFiles();
    if (ui->LoadMultiTimes->isChecked() && !files.isEmpty()) {
        int times = multiTimes();
        // Every entry becomes a frame in memory; a mistyped count in the billions would
        // exhaust memory before the first frame is read.
        if (times > maxMultiTimes) {
            qDebug() << "Multi. count too large, limited to" << maxMultiTimes;
            times = maxMultiTimes;
        }
        const QString first = files.first();
        files.clear();
        for (int i = 0; i < times; ++i)
            files.append(first);
    }
    emit filesSelected(files, newFiles);
}

#include "SelectAFile.h"

#include "ui_SelectAFile.h"

#include "config/DataRoot.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>

namespace {
const char *const loadedStyle = "background-color: rgb(211, 255, 241);";
const char *const failedStyle = "background-color: rgb(255, 192, 192);";
} // namespace

SelectAFile::SelectAFile(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectAFile>())
    , fileDialog(std::make_unique<QFileDialog>(nullptr, QString(), DataRoot::dialogStart()))
{
    ui->setupUi(this);
    ui->Name->hide();
    ui->AddTag->hide();
    setMode(OpenMode);

    connect(ui->Select, SIGNAL(clicked()), fileDialog.get(), SLOT(show()));
    connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectAFile::fileSelected0);
    connect(ui->Clear, SIGNAL(clicked()), this, SLOT(clear0()));
    for (QLineEdit *field : {ui->FilePath, ui->Name, ui->AddTag})
        connect(field, &QLineEdit::textChanged, this, &SelectAFile::namesChanged);
}

SelectAFile::~SelectAFile() = default;

void SelectAFile::setMode(int m)
{
    mode = m;
    if (m == OpenMode) {
        fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
        fileDialog->setFileMode(QFileDialog::ExistingFile);
        fileDialog->setNameFilters(
            {tr("Img file (*.img)"), tr("Tiff file (*.tif *.tiff)"), tr("Any file (* *.*)")});
    } else if (m == SaveMode) {
        fileDialog->setAcceptMode(QFileDialog::AcceptSave);
        fileDialog->setFileMode(QFileDialog::AnyFile);
        fileDialog->setNameFilters({tr("Any file (* *.*)")});
    }
}

void SelectAFile::setPath(const QString &path)
{
    // A save destination must exist before the first result is written into it; a
    // folder that can't be made is still shown, the writer reports its own failure.
    if (mode == SaveMode && !path.isEmpty())
        QDir().mkpath(path);
    ui->FilePath->setText(path);
    if (mode == OpenMode)
        ui->FilePath->setToolTip(path);
}

QString SelectAFile::path() const
{
    return ui->FilePath->text();
}

QString SelectAFile::name() const
{
    return ui->Name->text();
}

QString SelectAFile::addTag() const
{
    return ui->AddTag->text();
}

void SelectAFile::setName(const QString &name)
{
    ui->Name->setText(name);
}

void SelectAFile::setAddTag(const QString &tag)
{
    ui->AddTag->setText(tag);
}

void SelectAFile::showNameAndTag(bool show)
{
    ui->Name->setVisible(show);
    ui->AddTag->setVisible(show);
    if (!show)
        return;
    ui->FilePath->setPlaceholderText(tr("Folder"));
    ui->FilePath->setToolTip(tr("Folder the results are saved in"));
    ui->Name->setPlaceholderText(tr("Base name"));
    ui->Name->setToolTip(tr("Base name of the saved files: name-tag-slice"));
    ui->AddTag->setPlaceholderText(tr("Tag"));
    ui->AddTag->setToolTip(
        tr("Tag in the names of the saved files (a sequential run puts the energy here)"));
}

void SelectAFile::setNextFile(const QString &shown, const QString &whole)
{
    if (!nextFile) {
        nextFile = new QLabel(this);
        nextFile->setObjectName(QStringLiteral("NextFile"));
        nextFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
        ui->gridLayout->addWidget(nextFile, 1, 1, 1, 3);
    }
    nextFile->setText(shown.isEmpty() ? QString() : QStringLiteral("\u2192 ") + shown);
    nextFile->setToolTip(whole);
    nextFile->setVisible(!shown.isEmpty());
}

QString SelectAFile::nextFileText() const
{
    return nextFile ? nextFile->text() : QString();
}

void SelectAFile::setStat(bool f)
{
    ui->FilePath->setStyleSheet(QLatin1String(f ? loadedStyle : failedStyle));
}

void SelectAFile::fileSelected0(QString fname)
{
    const QFileInfo info(fname);
    if (mode == SaveMode)
        setPath(info.absolutePath());
    else
        setPath(fname);
    ui->Name->setText(info.baseName());
    emit fileSelected(fname);
}

void SelectAFile::clear0()
{
    setPath(QString());
    ui->Name->clear();
    emit clear();
}

void SelectAFile::addToRow(QWidget *widget, int column)
{
    ui->gridLayout->addWidget(widget, 0, column);
}

#include "SelectDir.h"

#include "ui_SelectDir.h"

#include "config/DataRoot.h"

#include <QFileDialog>

SelectDir::SelectDir(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::SelectDir>())
    , fileDialog(std::make_unique<QFileDialog>(nullptr, QString(), DataRoot::dialogStart()))
{
    ui->setupUi(this);
    fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    fileDialog->setFileMode(QFileDialog::Directory);
    fileDialog->setNameFilters({tr("(*)")});

    connect(ui->Select, SIGNAL(clicked()), fileDialog.get(), SLOT(show()));
    // Receivers of aDirSelected() scan the directory before the line shows it.
    connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectDir::aDirSelected);
    connect(fileDialog.get(), &QFileDialog::fileSelected, this, &SelectDir::setDirName);
}

SelectDir::~SelectDir() = default;

QString SelectDir::dirName() const
{
    return ui->SelectedDir->text();
}

void SelectDir::setButtonText(const QString &text)
{
    ui->Select->setText(text);
}

void SelectDir::selectDir(const QString &dir)
{
    fileDialog->setDirectory(dir);
    emit aDirSelected(dir);
    setDirName(dir);
}

// The end of a path names the data set: the line shows it, the tooltip the whole path.
void SelectDir::setDirName(QString dir)
{
    ui->SelectedDir->setText(dir);
    ui->SelectedDir->setCursorPosition(int(dir.size()));
    ui->SelectedDir->setToolTip(dir);
}

#include "FormFit.h"

#include "disp/FieldFit.h"
#include "select/SelectAFile.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"
#include "util/TextLine.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

QButtonGroup *FormFit::setUp(Ui::Body *ui, QFrame *window)
{
    for (QLineEdit *field : {ui->CalcStartT, ui->CalcEndT})
        FieldFit::fit(field, FieldFit::dateTimeSample());
    for (QLineEdit *field : {ui->CalcSpentT, ui->ColorMin, ui->ColorMax})
        FieldFit::fit(field, FieldFit::numberSample());
    FieldFit::fit(ui->DeltaET, FieldFit::integerSample());
    FieldFit::showStart(ui->ProgressMsg);
    for (SelectAFile *save : {ui->SelectImageSaveDir, ui->SelectDataSaveDir}) {
        save->setMode(SelectAFile::SaveMode);
        save->showNameAndTag(true);
    }
    ui->SelI0Files->hideLoadOptions(true);
    ui->SelI0Files->setSelectButtonText(tr("Sel. I0 File Set"));
    ui->SelI0Files->setTitle(spaces(32));
    ui->CTFiles->setTitle(tr("Row Images"));

    auto *subFolderGroup = new QButtonGroup(window);
    subFolderGroup->setExclusive(true);
    subFolderGroup->addButton(ui->SubOfEnergy);
    subFolderGroup->addButton(ui->SubOfSlice);
    ui->SubOfSlice->setChecked(true);

    auto *progress = new QProgressBar(window);
    progress->setObjectName(QStringLiteral("CalcProgress"));
    progress->setRange(0, 1);
    progress->setValue(0);
    progress->setFormat(tr("%v / %m slices"));
    static_cast<QGridLayout *>(ui->CalcBox->layout())->addWidget(progress, 4, 0, 1, 4);

    // A sequential run's place among its sets sits under the slices' progress, at the
    // top of the control column, so that it is seen without scrolling down to the
    // sequential controls.
    auto *setProgress = new QLabel(window);
    setProgress->setObjectName(QStringLiteral("SeqSetProgress"));
    setProgress->setWordWrap(true);
    static_cast<QGridLayout *>(ui->CalcBox->layout())->addWidget(setProgress, 5, 0, 1, 4);
    return subFolderGroup;
}

void FormFit::fitControlColumn(Ui::Body *ui, QFrame *window)
{
    const int natural = ui->ControlPanel->minimumSizeHint().width() +
                        ui->ControlScroll->verticalScrollBar()->sizeHint().width();
    int room = natural;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QLayout *layout = window->layout();
        const QMargins margins = layout ? layout->contentsMargins() : QMargins();
        const int spacing = layout ? std::max(layout->spacing(), 0) : 0;
        room = screen->availableSize().width() - ui->ImgsTab->minimumSizeHint().width() -
               margins.left() - margins.right() - spacing - 2 * window->frameWidth();
    }
    const int width = std::max(std::min(natural, room), natural / 2);
    ui->ControlScroll->setMinimumWidth(width);
    ui->ControlScroll->setHorizontalScrollBarPolicy(width < natural ? Qt::ScrollBarAsNeeded
                                                                    : Qt::ScrollBarAlwaysOff);
}

void FormFit::fitToScreen(QWidget *window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableSize();
        window->resize(std::min(window->width(), room.width()),
                       std::min(window->height(), room.height()));
    }
}

#include "RunRecordSender.h"

#include "body/CorTools.h"
#include "body/ResultPanels.h"
#include "body/XafsBatch.h"
#include "ct/AttenuationScale.h"
#include "ct/DataSaver.h"
#include "ct/RunRecord.h"
#include "ct/SavingData.h"
#include "ct/ScanGeometry.h"
#include "ct/SgmGeom.h"
#include "disp/CtCalc2Ui.h"
#include "disp/ProcCtrl.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "run/RunController.h"
#include "select/SelectAFile.h"
#include "select/SelectAImgFile.h"
#include "select/SelectDataDir.h"
#include "select/SelectDataFiles.h"
#include "sets/Kvn.h"
#include "ui_Body.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>

namespace {

const char *const dataFormats[] = {"dat", "tiff", "both", "h5"};

QComboBox *dataFormatBox(const QWidget *body)
{
    return body->findChild<QComboBox *>(QStringLiteral("DataFormat"));
}

QJsonValue fileOf(const ImgData *image)
{
    if (!image || !image->isOk)
        return QJsonValue(QJsonValue::Null);
    return image->fileName;
}

} // namespace

RunRecordSender::RunRecordSender(Parts parts)
    : parts(parts)
{
}

void RunRecordSender::noteScanEnergy(const QString &fileName, double energyEV)
{
    scanEnergyFile = fileName;
    scanEnergyEV = energyEV > 0 ? std::optional<double>(energyEV) : std::nullopt;
}

// The label keeps the main window's translation context.
void RunRecordSender::addDataFormatBox(Ui::Body *ui, QWidget *window)
{
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(QCoreApplication::translate("Body", "Data Format"), window);
    auto *box = new QComboBox(window);
    box->setObjectName(QStringLiteral("DataFormat"));
    for (const char *format : dataFormats)
        box->addItem(QString::fromLatin1(format));
    label->setBuddy(box);
    row->addWidget(label);
    row->addWidget(box);
    row->addStretch();
    // Under the data folder picker, whose format it chooses.
    const int at = ui->SaveLayout->indexOf(ui->SelectDataSaveDir);
    ui->SaveLayout->insertLayout(at + 1, row);
}

void RunRecordSender::send() const
{
    Ui::Body *ui = parts.form;
    const bool data = ui->AutoSaveData->isChecked();
    const bool image = ui->AutoSaveImage->isChecked();
    if (!data && !image)
        return;
    const SelectAFile *dataDir = ui->SelectDataSaveDir;
    const SelectAFile *imageDir = ui->SelectImageSaveDir;
    // The record lies beside the data; a run that saves pictures only keeps it
    // beside the pictures.
    const SelectAFile *home = data ? dataDir : imageDir;
    auto *record = new RunRecord;
    record->folder = home->path();
    record->name = home->name();
    record->tag = home->addTag();

    const RunRequest &run = parts.runs->request();
    const CtRunParams &params = run.params;
    QJsonObject o = RunRecord::programKeys();
    const QStringList files = ui->CTFiles->fileNames();
    const QString first = files.isEmpty() ? QString() : files.first();
    o["data_name"] = record->name;
    o["tag"] = record->tag;
    o["data_dir"] = first.isEmpty() ? QString() : QFileInfo(first).absolutePath();
    o["file_pattern"] = ui->SelDDir->pattern();
    o["first_file"] = QFileInfo(first).fileName();
    o["last_file"] = files.isEmpty() ? QString() : QFileInfo(files.last()).fileName();
    o["file_count"] = parts.stack->count();
    o["i0_file"] = fileOf(ui->I0ImgSel->image());
    o["bg_file"] = fileOf(ui->BGImgSel->image());
    // The I0's energy, read from its file's name as the nearest-energy rule reads it.
    const ImgData *i0 = ui->I0ImgSel->image();
    const std::optional<double> i0Energy =
        i0 && i0->isOk ? energyEvOf(energyTextOf(QFileInfo(i0->fileName).fileName()))
                       : std::nullopt;
    o["i0_energy_eV"] = i0Energy ? QJsonValue(*i0Energy) : QJsonValue(QJsonValue::Null);
    // A set of a sequential run carries its energy in the tag; a hand-loaded
    // stack in its files' names.
    const QString energyText = parts.sequencer->isRunning()
                                   ? ui->SelDDir->currentEnergyText()
                                   : energyTextOf(QFileInfo(first).fileName());
    std::optional<double> energy = energyEvOf(energyText);
    // An HDF5 scan says its energy itself, more surely than its name.
    if (scanEnergyEV && first == scanEnergyFile)
        energy = scanEnergyEV;
    o["energy_text"] = energyText;
    o["energy_eV"] = energy ? QJsonValue(*energy) : QJsonValue(QJsonValue::Null);
    o["cor"] = params.cor;
    o["rot_axis_vertical"] = params.rotAxIsV;
    const int n = run.fftLength();
    o["n"] = n;
    o["projections"] = parts.stack->count();
    const CtCalc2Ui *panel = parts.resultPanels->panels().value(0);
    QJsonArray region = {0.0, 0.0, double(n), double(n)};
    if (panel && panel->calcRegionChanged())
        region = {SavingData::clipBound(panel->cRx0(), n), SavingData::clipBound(panel->cRz0(), n),
                  SavingData::clipBound(panel->cRx1(), n), SavingData::clipBound(panel->cRz1(), n)};
    o["region"] = region;
    o["filter"] = params.filterName;
    o["padded"] = params.filterPadded ? 1 : 0;
    o["ring_removal"] = params.ringRemoval;
    o["precision"] = params.precision;
    o["angles"] = params.geometry.recordOf(parts.stack->count());
    o["scan_range"] = params.geometry.rangeDegrees;
    if (ScanGeometry::isHalfAcquisition(params.geometry.rangeDegrees, run.cutWidth(), params.cor))
        o["half_acquisition_n"] = n;
    if (const std::optional<double> cor = parts.corTools->corAutoOfSet())
        o["cor_auto"] = *cor;
    // The confidence of the estimate the run's centre came from, if it came from one.
    if (const std::optional<double> confidence = parts.corTools->confidenceOf(params.cor))
        o["cor_confidence"] = *confidence;
    o["scale"] = attenuationScaleRule();
    o["data_format"] =
        dataFormatBox(parts.window) ? dataFormatBox(parts.window)->currentText() : QString();
    record->settings = o;
    if (!parts.runs->runFailure().isEmpty())
        record->failures.append({std::nullopt, parts.runs->runFailure()});

    QStringList sources;
    if (data)
        sources << DataSaver::sourceKey(dataDir->path(), dataDir->name(), dataDir->addTag());
    if (image)
        sources << DataSaver::sourceKey(imageDir->path(), imageDir->name(), imageDir->addTag());
    DataSaver *saver = parts.saver;
    QMetaObject::invokeMethod(
        saver, [saver, record, sources] { saver->writeRunRecordWDiscard(record, sources); },
        Qt::QueuedConnection);
}

#include "ProcCtrl.h"

#include "ct/CtFbp.h"
#include "ct/CtFilter.h"
#include "disp/FieldFit.h"
#include "ui_ProcCtrl.h"
#include "util/Edition.h"
#include "util/Numbers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>
#include <cstdlib>
#include <limits>

ProcCtrl::ProcCtrl(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::ProcCtrl)
    , axisGroup(new QButtonGroup(this))
{
    ui->setupUi(this);
    addFilterControls();
    addCorAndRingControls();
    addPrecisionControl();
    addGeometryControls();
    // A spin box at 0 threads would hand no slice to any engine and a multi-slice
    // run would wait for ever.
    ui->Threads->setMinimum(1);
    // orvo2-base has no recorded-CoR memory: the button and its read-outs go.
    if (Edition::isBase()) {
        ui->RecCoR->hide();
        ui->RecordedCoR1->hide();
        ui->RecordedCoR2->hide();
    }
    FieldFit::fit(ui->Cor, FieldFit::numberSample());
    for (QLineEdit *field : {ui->SliceNo, ui->SliceFrom, ui->SliceTo, ui->SliceStep})
        FieldFit::fit(field, FieldFit::integerSample());
    // A recorded CoR is a 6-digit number at a slice of up to five digits.
    for (QLineEdit *field : {ui->RecordedCoR1, ui->RecordedCoR2})
        FieldFit::fit(field, recordText(-1.23457e+300, 88888));
    axisGroup->setExclusive(true);
    axisGroup->addButton(ui->RotAxH);
    axisGroup->addButton(ui->RotAxV);
    rotAxV = ui->RotAxV->isChecked();
    slice = Numbers::toInt(ui->SliceNo->text());
    corValue = Numbers::toFiniteDouble(ui->Cor->text());

    connect(ui->AutoUpdate, &QCheckBox::toggled, this, &ProcCtrl::autoUpdateUpdated);
    connect(ui->AutoExecCtCalc, &QCheckBox::toggled, this, &ProcCtrl::autoExecUpdated);
    connect(ui->SliceNo, &QLineEdit::editingFinished, this, &ProcCtrl::sliceNoEditingFinished);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &ProcCtrl::corEditingFinished);
    connect(axisGroup, &QButtonGroup::buttonClicked, this, &ProcCtrl::rotAxSelectionChanged);
    connect(ui->RecCoR, &QPushButton::clicked, this, &ProcCtrl::recordCoR);
}

ProcCtrl::~ProcCtrl()
{
    // The children outlive this part of the object: a line edit losing focus while
    // the widget closes would still call our slots.
    for (QObject *child : findChildren<QObject *>())
        QObject::disconnect(child, nullptr, this, nullptr);
    delete ui;
}

bool ProcCtrl::autoUpdate() const
{
    return ui->AutoUpdate->isChecked();
}

bool ProcCtrl::autoExec() const
{
    return ui->AutoExecCtCalc->isChecked();
}

int ProcCtrl::from() const
{
    return Numbers::toInt(ui->SliceFrom->text());
}

int ProcCtrl::to() const
{
    return Numbers::toInt(ui->SliceTo->text());
}

int ProcCtrl::step() const
{
    return Numbers::toInt(ui->SliceStep->text());
}

int ProcCtrl::threads() const
{
    return ui->Threads->value();
}

CtRunParams ProcCtrl::runParams(bool calcCt1, bool calcCt2) const
{
    CtRunParams params;
    params.calcCt1 = calcCt1;
    params.calcCt2 = calcCt2;
    params.rotAxIsV = rotAxV;
    params.slice = slice;
    params.cor = corValue;
    params.autoExec = autoExec();
    params.sliceFrom = from();
    params.sliceTo = to();
    // |INT_MIN| does not exist as an int; the largest step stands in for it.
    const int raw = step();
    const int magnitude =
        raw == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : std::abs(raw);
    params.sliceStep = params.sliceTo < params.sliceFrom ? -magnitude : magnitude;
    params.threads = threads();
    params.filterName = filterName();
    params.filterPadded = filterPadded();
    params.ringRemoval = ringRemoval();
    params.precision = precisionName();
    params.geometry.rangeDegrees = scanRange();
    params.anglesFile = anglesFile();
    if (params.anglesFile.isEmpty() && !scanAngles.empty()) {
        params.geometry.anglesDeg = scanAngles;
        params.geometry.source = scanAnglesSource;
    }
    return params;
}

void ProcCtrl::addFilterControls()
{
    auto *padded = new QCheckBox(tr("Padded"), this);
    padded->setObjectName(QStringLiteral("FilterPadded"));
    padded->setToolTip(tr("Pad sinogram rows with their edge values and use the band-limited "
                          "ramp: absolute attenuation without offset"));
    auto *label = new QLabel(tr("Filter"), this);
    auto *window = new QComboBox(this);
    window->setObjectName(QStringLiteral("FilterWindow"));
    window->addItems(CtFilter::names());
    label->setBuddy(window);
    auto *row = new QHBoxLayout;
    row->setObjectName(QStringLiteral("FilterRow"));
    row->addWidget(label);
    row->addWidget(window);
    row->addWidget(padded);
    row->addStretch();
    // "Auto Update Sinogram" closes this row rather than the centre's, which the
    // recorded centres fill.
    ui->gridLayout_2->removeWidget(ui->AutoUpdate);
    row->addWidget(ui->AutoUpdate);
    ui->gridLayout_2->addLayout(row, ui->gridLayout_2->rowCount(), 0, 1, -1);
}

bool ProcCtrl::filterPadded() const
{
    const auto *box = findChild<QCheckBox *>(QStringLiteral("FilterPadded"));
    return box && box->isChecked();
}

QString ProcCtrl::filterName() const
{
    const auto *box = findChild<QComboBox *>(QStringLiteral("FilterWindow"));
    return box ? box->currentText() : QStringLiteral("ramp");
}

void ProcCtrl::setFilterPadded(bool f)
{
    if (auto *box = findChild<QCheckBox *>(QStringLiteral("FilterPadded")))
        box->setChecked(f);
}

bool ProcCtrl::setFilterName(const QString &name)
{
    auto *box = findChild<QComboBox *>(QStringLiteral("FilterWindow"));
    CtFilter::Window window;
    if (!box || !CtFilter::windowOf(name, &window)) {
        qDebug() << "Unknown CT filter" << name;
        return false;
    }
    box->setCurrentText(name);
    return true;
}

void ProcCtrl::addCorAndRingControls()
{
    // "Find" sits beside the centre field it fills.
    auto *find = new QPushButton(tr("Find"), this);
    find->setObjectName(QStringLiteral("FindCor"));
    // As wide as its word: the style's minimum button width would widen the
    // whole row of the centre field.
    find->setMaximumWidth(find->fontMetrics().horizontalAdvance(find->text()) + 16);
    find->setToolTip(tr("Find the centre of rotation from the symmetry of the first "
                        "projection and the last one (180 degrees)"));
    ui->gridLayout_2->removeWidget(ui->Cor);
    auto *cell = new QHBoxLayout;
    cell->setSpacing(2);
    cell->addWidget(ui->Cor);
    cell->addWidget(find);
    ui->gridLayout_2->addLayout(cell, 0, 2);
    connect(find, &QPushButton::clicked, this, &ProcCtrl::findCorClicked);

    auto *label = new QLabel(tr("Ring Removal"), this);
    auto *window = new QSpinBox(this);
    window->setObjectName(QStringLiteral("RingRemoval"));
    window->setRange(0, 255);
    window->setSpecialValueText(tr("Off"));
    window->setToolTip(tr("Remove stripes (rings) before filtering: the smoothing window in "
                          "detector pixels, typically 11 to 31; Off leaves the data as they are"));
    label->setBuddy(window);
    // On the filter's row: both act on the sinogram before the back projection,
    // and the rows above are full.
    auto *row = findChild<QHBoxLayout *>(QStringLiteral("FilterRow"));
    const int end = row->count() - 2; // before the stretch and "Auto Update Sinogram"
    row->insertSpacing(end, 12);
    row->insertWidget(end + 1, label);
    row->insertWidget(end + 2, window);
}

void ProcCtrl::addPrecisionControl()
{
    auto *label = new QLabel(tr("Precision"), this);
    auto *box = new QComboBox(this);
    box->setObjectName(QStringLiteral("Precision"));
    // The words of ct_precision ride along as item data, so the shown names may be
    // translated.
    box->addItem(tr("Double"), QStringLiteral("double"));
    box->addItem(tr("Single"), QStringLiteral("single"));
    box->setToolTip(tr("Single: filtering and back projection in float32, about twice as "
                       "fast; slices differ from Double's far below the photon noise"));
    label->setBuddy(box);
    auto *row = findChild<QHBoxLayout *>(QStringLiteral("FilterRow"));
    const int end = row->count() - 2; // before the stretch and "Auto Update Sinogram"
    row->insertSpacing(end, 12);
    row->insertWidget(end + 1, label);
    row->insertWidget(end + 2, box);
}

QString ProcCtrl::precisionName() const
{
    const auto *box = findChild<QComboBox *>(QStringLiteral("Precision"));
    return box ? box->currentData().toString() : QStringLiteral("double");
}

bool ProcCtrl::setPrecisionName(const QString &name)
{
    auto *box = findChild<QComboBox *>(QStringLiteral("Precision"));
    CtFbp::Precision value;
    if (!box || !CtFbp::precisionOf(name, &value)) {
        qDebug() << "Unknown precision" << name;
        return false;
    }
    box->setCurrentIndex(box->findData(name));
    return true;
}

void ProcCtrl::addGeometryControls()
{
    auto *rangeLabel = new QLabel(tr("Scan range"), this);
    auto *range = new QComboBox(this);
    range->setObjectName(QStringLiteral("ScanRange"));
    range->addItem(tr("180°"), 180);
    range->addItem(tr("360°"), 360);
    range->setToolTip(tr("The angles the projections cover. 360° with the centre near an "
                         "edge of the detector reconstructs a field up to twice its width"));
    rangeLabel->setBuddy(range);
    auto *anglesLabel = new QLabel(tr("Angles"), this);
    auto *angles = new QLineEdit(this);
    angles->setObjectName(QStringLiteral("AnglesFile"));
    angles->setPlaceholderText(tr("even spread"));
    angles->setToolTip(tr("A text file with one angle in degrees per projection, in "
                          "projection order; empty: the projections spread evenly"));
    anglesLabel->setBuddy(angles);
    auto *pick = new QPushButton(tr("..."), this);
    pick->setObjectName(QStringLiteral("AnglesPick"));
    pick->setMaximumWidth(pick->fontMetrics().horizontalAdvance(pick->text()) + 16);
    connect(pick, &QPushButton::clicked, this, &ProcCtrl::pickAnglesFile);
    auto *row = new QHBoxLayout;
    row->setObjectName(QStringLiteral("GeometryRow"));
    row->addWidget(rangeLabel);
    row->addWidget(range);
    row->addSpacing(12);
    row->addWidget(anglesLabel);
    row->addWidget(angles, 1);
    row->addWidget(pick);
    ui->gridLayout_2->addLayout(row, ui->gridLayout_2->rowCount(), 0, 1, -1);
}

void ProcCtrl::pickAnglesFile()
{
    const QString start = QFileInfo(anglesFile()).absolutePath();
    const QString file = QFileDialog::getOpenFileName(this, tr("Angle file"), start);
    if (!file.isEmpty())
        setAnglesFile(file);
}

int ProcCtrl::scanRange() const
{
    const auto *box = findChild<QComboBox *>(QStringLiteral("ScanRange"));
    return box ? box->currentData().toInt() : 180;
}

bool ProcCtrl::setScanRange(int degrees)
{
    auto *box = findChild<QComboBox *>(QStringLiteral("ScanRange"));
    const int index = box ? box->findData(degrees) : -1;
    if (index < 0) {
        qDebug() << "Scan range must be 180 or 360 degrees" << degrees;
        return false;
    }
    box->setCurrentIndex(index);
    return true;
}

QString ProcCtrl::anglesFile() const
{
    const auto *field = findChild<QLineEdit *>(QStringLiteral("AnglesFile"));
    return field ? field->text().trimmed() : QString();
}

void ProcCtrl::setAnglesFile(const QString &path)
{
    if (auto *field = findChild<QLineEdit *>(QStringLiteral("AnglesFile")))
        field->setText(path);
}

void ProcCtrl::setScanAngles(std::vector<double> anglesDeg, const QString &source)
{
    scanAngles = std::move(anglesDeg);
    scanAnglesSource = source;
}

int ProcCtrl::ringRemoval() const
{
    const auto *box = findChild<QSpinBox *>(QStringLiteral("RingRemoval"));
    return box ? box->value() : 0;
}

void ProcCtrl::setRingRemoval(int window)
{
    if (auto *box = findChild<QSpinBox *>(QStringLiteral("RingRemoval")))
        box->setValue(window);
}

void ProcCtrl::setAutoUpdate(bool f)
{
    ui->AutoUpdate->setChecked(f);
}

void ProcCtrl::setAutoExec(bool f)
{
    ui->AutoExecCtCalc->setChecked(f);
}

void ProcCtrl::setThreads(int n)
{
    ui->Threads->setValue(n);
}

void ProcCtrl::setThreadsMaximum(int n)
{
    ui->Threads->setMaximum(n);
}

void ProcCtrl::setRotAxIsV(bool vertical)
{
    if (vertical)
        ui->RotAxV->setChecked(true);
    else
        ui->RotAxH->setChecked(true);
    rotAxSelectionChanged(vertical ? ui->RotAxV : ui->RotAxH);
}

QString ProcCtrl::recordText(double cor, int recordedSlice)
{
    if (recordedSlice < 0)
        return QString();
    return QStringLiteral("%1 at %2").arg(cor).arg(recordedSlice);
}

void ProcCtrl::recordCoR()
{
    recordedSlice2 = recordedSlice1;
    recordedCoR2 = recordedCoR1;
    recordedCoR1 = corValue;
    recordedSlice1 = slice;
    ui->RecordedCoR1->setText(recordText(recordedCoR1, recordedSlice1));
    ui->RecordedCoR2->setText(recordText(recordedCoR2, recordedSlice2));
}

void ProcCtrl::sliceNoEditingFinished()
{
    const int value = Numbers::toInt(ui->SliceNo->text());
    if (value == slice)
        return;
    slice = value;
    emit sliceNoUpdated();
}

void ProcCtrl::corEditingFinished()
{
    const double value = Numbers::toFiniteDouble(ui->Cor->text());
    if (value == corValue)
        return;
    corValue = value;
    emit corUpdated();
}

void ProcCtrl::rotAxSelectionChanged(QAbstractButton *)
{
    const bool vertical = ui->RotAxV->isChecked();
    if (vertical == rotAxV)
        return;
    rotAxV = vertical;
    emit rotAxUpdated();
}

void ProcCtrl::setCor(double cor)
{
    // A non-finite CoR could never compare equal to itself and would be reported
    // again at every call; it is taken as 0 like a typed non-number.
    if (!std::isfinite(cor))
        cor = 0.0;
    if (cor == corValue)
        return;
    corValue = cor;
    ui->Cor->setText(Numbers::text(cor));
    emit corUpdated();
}

void ProcCtrl::setSliceNo(int sliceNo)
{
    if (sliceNo == slice)
        return;
    slice = sliceNo;
    ui->SliceNo->setText(QString::number(sliceNo));
    emit sliceNoUpdated();
}

void ProcCtrl::setSliceFrom(int from)
{
    ui->SliceFrom->setText(QString::number(from));
}

void ProcCtrl::setSliceTo(int to)
{
    ui->SliceTo->setText(QString::number(to));
}

void ProcCtrl::setSliceStep(int step)
{
    ui->SliceStep->setText(QString::number(step));
}

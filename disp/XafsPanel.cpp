#include "XafsPanel.h"

#include "disp/ColorBar.h"
#include "disp/ImgDispWPV.h"
#include "disp/SliceUnitLabel.h"
#include "disp/XafsMapControls.h"
#include "disp/XafsPlot.h"
#include "util/GreyPicture.h"
#include "util/Numbers.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsTiff.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

XafsPanel::XafsPanel(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("XafsPanel"));
    slices = new QComboBox(this);
    slices->setObjectName(QStringLiteral("XafsSlice"));
    maps = new QComboBox(this);
    maps->setObjectName(QStringLiteral("XafsMap"));
    refresh = new QPushButton(tr("Refresh"), this);
    csvButton = new QPushButton(tr("Export CSV"), this);
    pngButton = new QPushButton(tr("Export PNG"), this);
    info = new QLabel(this);
    info->setObjectName(QStringLiteral("XafsStatus"));
    info->setWordWrap(true);
    display = new ImgDispWPV(this);
    plotArea = new XafsPlot(this);
    chemistry = new XafsMapControls(this);
    clusterLegend = new QLabel(this);
    clusterLegend->setObjectName(QStringLiteral("XafsClusterLegend"));
    clusterLegend->setWordWrap(true);
    clusterLegend->setTextFormat(Qt::RichText);

    auto field = [this](const char *name) {
        auto *f = new QLineEdit(this);
        f->setObjectName(QLatin1String(name));
        f->setAlignment(Qt::AlignRight);
        f->setMaximumWidth(80);
        connect(f, &QLineEdit::editingFinished, this, &XafsPanel::plot);
        return f;
    };
    preEdge1 = field("XafsPreEdge1");
    preEdge2 = field("XafsPreEdge2");
    postEdge1 = field("XafsPostEdge1");
    postEdge2 = field("XafsPostEdge2");
    fixedE0 = field("XafsE0");
    minJump = field("XafsMinJump");
    minJump->setText(QStringLiteral("0"));
    minJump->setToolTip(tr("A jump per pixel, or a percentage of the slice's largest jump (5%)"));
    registerEnergies = new QCheckBox(tr("Register energies"), this);
    registerEnergies->setObjectName(QStringLiteral("XafsRegister"));
    preRelative1 = field("XafsPreRelative1");
    preRelative2 = field("XafsPreRelative2");
    normRelative1 = field("XafsNormRelative1");
    normRelative2 = field("XafsNormRelative2");
    energyShift = field("XafsEnergyShift");
    pixelSize = field("XafsPixelSize");
    nnorm = new QComboBox(this);
    nnorm->setObjectName(QStringLiteral("XafsNnorm"));
    nnorm->addItems({tr("by rule"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                     QStringLiteral("3")});
    e0Method = new QComboBox(this);
    e0Method->setObjectName(QStringLiteral("XafsE0Method"));
    e0Method->addItems({tr("steepest rise"), tr("half step")});
    flatten = new QCheckBox(tr("Flatten"), this);
    flatten->setObjectName(QStringLiteral("XafsFlatten"));
    // The slice tabs give their values in 1/cm too once the pixel size is known.
    connect(pixelSize, &QLineEdit::editingFinished, this,
            [this] { SliceUnitLabel::setPixelSize(settings().pixelSizeUm); });
    connect(nnorm, &QComboBox::currentIndexChanged, this, &XafsPanel::plot);
    connect(e0Method, &QComboBox::currentIndexChanged, this, &XafsPanel::plot);
    connect(flatten, &QCheckBox::toggled, this, &XafsPanel::plot);
    buildButton = new QPushButton(tr("Build"), this);
    buildButton->setObjectName(QStringLiteral("XafsBuild"));
    // Two rows of fit settings, so that the tab keeps its fields readable in the width
    // the main window leaves it beside the control column.
    auto *fit = new QGridLayout;
    fit->addWidget(new QLabel(tr("Pre-edge (eV)"), this), 0, 0);
    fit->addWidget(preEdge1, 0, 1);
    fit->addWidget(preEdge2, 0, 2);
    fit->addWidget(new QLabel(tr("Post-edge (eV)"), this), 0, 3);
    fit->addWidget(postEdge1, 0, 4);
    fit->addWidget(postEdge2, 0, 5);
    fit->addWidget(new QLabel(tr("E0 (eV)"), this), 1, 0);
    fit->addWidget(fixedE0, 1, 1);
    fit->addWidget(new QLabel(tr("Min. jump (or %)"), this), 1, 3);
    fit->addWidget(minJump, 1, 4);
    fit->addWidget(registerEnergies, 1, 5, 1, 2);
    // Relative ranges, when all four are given, take the place of the absolute ones.
    fit->addWidget(new QLabel(tr("Relative pre (eV)"), this), 2, 0);
    fit->addWidget(preRelative1, 2, 1);
    fit->addWidget(preRelative2, 2, 2);
    fit->addWidget(new QLabel(tr("Relative post (eV)"), this), 2, 3);
    fit->addWidget(normRelative1, 2, 4);
    fit->addWidget(normRelative2, 2, 5);
    fit->addWidget(new QLabel(tr("nnorm"), this), 3, 0);
    fit->addWidget(nnorm, 3, 1);
    fit->addWidget(new QLabel(tr("E0 at"), this), 3, 2);
    fit->addWidget(e0Method, 3, 3);
    fit->addWidget(flatten, 3, 4);
    fit->addWidget(new QLabel(tr("Shift (eV)"), this), 4, 0);
    fit->addWidget(energyShift, 4, 1);
    fit->addWidget(new QLabel(tr("Pixel (µm)"), this), 4, 3);
    fit->addWidget(pixelSize, 4, 4);
    fit->setColumnStretch(6, 1);
    fit->addWidget(buildButton, 0, 7);
    setBuilding(false);

    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Slice"), this));
    controls->addWidget(slices);
    controls->addWidget(new QLabel(tr("Show"), this));
    controls->addWidget(maps);
    controls->addWidget(refresh);
    controls->addStretch();
    controls->addWidget(csvButton);
    controls->addWidget(pngButton);
    auto *picture = new QWidget(this);
    auto *pictureLayout = new QVBoxLayout(picture);
    pictureLayout->setContentsMargins(0, 0, 0, 0);
    pictureLayout->addWidget(display, 1);
    pictureLayout->addWidget(clusterLegend);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(picture);
    split->addWidget(plotArea);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({500, 500});
    auto *layout = new QGridLayout(this);
    layout->addLayout(fit, 0, 0);
    layout->addWidget(chemistry, 1, 0);
    layout->addLayout(controls, 2, 0);
    layout->addWidget(split, 3, 0);
    layout->addWidget(info, 4, 0);
    layout->setRowStretch(3, 1);

    connect(chemistry, &XafsMapControls::referenceAdded, this, [this](const XafsReference &r) {
        XafsMapSettings s = mapState;
        s.references.push_back(r);
        setMapSettings(s);
    });
    connect(chemistry, &XafsMapControls::referenceRemoved, this, [this](int index) {
        XafsMapSettings s = mapState;
        if (index >= 0 && static_cast<size_t>(index) < s.references.size())
            s.references.erase(s.references.begin() + index);
        setMapSettings(s);
    });
    connect(chemistry, &XafsMapControls::fitRequested, this, &XafsPanel::fitRequested);
    connect(chemistry, &XafsMapControls::componentsRequested, this,
            &XafsPanel::componentsRequested);
    connect(chemistry, &XafsMapControls::clustersRequested, this, &XafsPanel::clustersRequested);
    connect(chemistry, &XafsMapControls::clusterMeansRequested, this, &XafsPanel::plotClusterMeans);

    connect(slices, &QComboBox::currentIndexChanged, this, &XafsPanel::loadSlice);
    connect(maps, &QComboBox::currentIndexChanged, this, &XafsPanel::showMap);
    connect(refresh, &QPushButton::clicked, this, &XafsPanel::refreshRequested);
    connect(buildButton, &QPushButton::clicked, this, &XafsPanel::buildRequested);
    connect(csvButton, &QPushButton::clicked, this, &XafsPanel::askCsvFile);
    connect(pngButton, &QPushButton::clicked, this, &XafsPanel::askPngFile);
    connect(display, &ImgDispWCBar::newBar, this, &XafsPanel::drawPicture);
    connect(display, &ImgDisp::selectedAPoint, this, [this](double x, double z, MouseC::MStat s) {
        if (s == MouseC::Left)
            onPoint(x, z);
    });
    // Connected after the display's own handler: the selection is complete here.
    connect(display, &DispAWLayout::mouseReleased0, this, &XafsPanel::onReleased);
    connect(display, &ImgDispWPV::newPosInvY, this, &XafsPanel::onValueAt);
    info->setText(tr("Click a pixel or Shift-drag a region to plot its spectrum."));
}

namespace {

double energyOf(const QLineEdit *field)
{
    bool ok = false;
    const double v = Numbers::toFiniteDouble(field->text(), &ok);
    return ok ? v : XafsSettings::unset;
}

QString textOf(double v)
{
    return std::isfinite(v) ? Numbers::text(v) : QString();
}

} // namespace

XafsSettings XafsPanel::settings() const
{
    XafsSettings s = kept;
    s.preEdge1 = energyOf(preEdge1);
    s.preEdge2 = energyOf(preEdge2);
    s.postEdge1 = energyOf(postEdge1);
    s.postEdge2 = energyOf(postEdge2);
    s.fixedE0 = energyOf(fixedE0);
    // "5%": a share of each slice's largest jump.
    const QString jumpText = minJump->text().trimmed();
    const bool percent = jumpText.endsWith(QLatin1Char('%'));
    const double jumpValue =
        std::max(0.0, Numbers::toFiniteDouble(percent ? jumpText.chopped(1) : jumpText));
    s.minJump = percent ? 0.0 : jumpValue;
    s.minJumpPercent = percent ? std::min(jumpValue, 100.0) : 0.0;
    s.registerEnergies = registerEnergies->isChecked();
    s.preRelative1 = energyOf(preRelative1);
    s.preRelative2 = energyOf(preRelative2);
    s.normRelative1 = energyOf(normRelative1);
    s.normRelative2 = energyOf(normRelative2);
    s.nnorm = nnorm->currentIndex() - 1;
    s.e0Method = e0Method->currentIndex() == 1 ? XafsE0Method::Half : XafsE0Method::Slope;
    s.flatten = flatten->isChecked();
    s.energyShift = Numbers::toFiniteDouble(energyShift->text());
    s.pixelSizeUm = std::max(0.0, Numbers::toFiniteDouble(pixelSize->text()));
    return s;
}

void XafsPanel::setSettings(const XafsSettings &s)
{
    kept = s;
    preEdge1->setText(textOf(s.preEdge1));
    preEdge2->setText(textOf(s.preEdge2));
    postEdge1->setText(textOf(s.postEdge1));
    postEdge2->setText(textOf(s.postEdge2));
    fixedE0->setText(textOf(s.fixedE0));
    minJump->setText(s.minJumpPercent > 0.0 ? Numbers::text(s.minJumpPercent) + QLatin1Char('%')
                                            : Numbers::text(s.minJump));
    registerEnergies->setChecked(s.registerEnergies);
    const QSignalBlocker blockNnorm(nnorm), blockMethod(e0Method), blockFlatten(flatten);
    preRelative1->setText(textOf(s.preRelative1));
    preRelative2->setText(textOf(s.preRelative2));
    normRelative1->setText(textOf(s.normRelative1));
    normRelative2->setText(textOf(s.normRelative2));
    nnorm->setCurrentIndex(std::clamp(s.nnorm, -1, 3) + 1);
    e0Method->setCurrentIndex(s.e0Method == XafsE0Method::Half ? 1 : 0);
    flatten->setChecked(s.flatten);
    energyShift->setText(s.energyShift != 0.0 ? Numbers::text(s.energyShift) : QString());
    pixelSize->setText(s.pixelSizeUm > 0.0 ? Numbers::text(s.pixelSizeUm) : QString());
    SliceUnitLabel::setPixelSize(s.pixelSizeUm);
    plot();
}

void XafsPanel::setBuilding(bool running)
{
    buildButton->setEnabled(!running);
    buildButton->setStyleSheet(running ? QStringLiteral("background-color: rgb(255, 255, 128);")
                                       : QStringLiteral("background-color: rgb(240, 240, 240);"));
}

void XafsPanel::setMapsBusy(bool busy, const QString &message)
{
    chemistry->setBusy(busy);
    chemistry->setStatus(message);
}

void XafsPanel::setMapSettings(const XafsMapSettings &s)
{
    mapState = s;
    chemistry->setReferences(mapState.references);
    plot();
}

QString XafsPanel::statusText() const
{
    return info->text();
}

void XafsPanel::setSource(const QString &xafsFolder, const QString &name)
{
    const bool sameSource = folder == xafsFolder && dataName == name;
    folder = xafsFolder;
    dataName = name;
    QString current = slices->currentText();
    QStringList before;
    for (int i = 0; i < slices->count(); ++i)
        before << slices->itemText(i);
    const QStringList found = XafsBuilder::builtSlices(folder, name);
    // A new list of slices (a build, another data name) opens on the slice the run
    // processed last; the same list keeps the slice chosen.
    if (!sameSource || found != before) {
        for (const QString &slice : found) {
            if (slice.toInt() == preferred)
                current = slice;
        }
    }
    QSignalBlocker block(slices);
    slices->clear();
    slices->addItems(found);
    if (found.contains(current))
        slices->setCurrentText(current);
    block.unblock();
    loadSlice();
}

void XafsPanel::loadSlice()
{
    const int slice = slices->currentText().toInt();
    stack = XafsSpectrum();
    mapList.clear();
    mu.clear();
    pixels = 0;
    jumpUnit = QStringLiteral("1/pixel");
    if (!slices->currentText().isEmpty()) {
        stack.load(QDir(folder).filePath(XafsBuilder::stackFileName(dataName, "mu", slice)));
        mapList = XafsMapList::load(folder, dataName, slice, &jumpUnit);
    }
    // The map shown stays by its name where the new slice has it.
    const QString shown = maps->currentText();
    QSignalBlocker block(maps);
    maps->clear();
    for (const XafsMapEntry &m : mapList)
        maps->addItem(m.label);
    for (double e : stack.energies())
        maps->addItem(tr("µ at %1 eV (1/pixel)").arg(e, 0, 'g', 8));
    const int again = maps->findText(shown);
    maps->setCurrentIndex(again >= 0 ? again : 0);
    block.unblock();
    showMap();
    // The region's line and its plot go together: after a rebuild both are of the new
    // stack, or both are gone.
    if (region.isValid() && stack.width() > 0) {
        showSpectrum(region.left(), region.top(), region.right(), region.bottom());
    } else {
        region = QRectF();
        info->setText(tr("Click a pixel or Shift-drag a region to plot its spectrum."));
        plot();
    }
}

const XafsMapEntry *XafsPanel::shownMap() const
{
    const int k = maps->currentIndex();
    return k >= 0 && static_cast<size_t>(k) < mapList.size() ? &mapList[static_cast<size_t>(k)]
                                                             : nullptr;
}

const std::vector<float> *XafsPanel::shownValues() const
{
    if (const XafsMapEntry *m = shownMap())
        return &m->values;
    const int k = maps->currentIndex() - static_cast<int>(mapList.size());
    if (k >= 0 && static_cast<size_t>(k) < stack.pages().size())
        return &stack.pages()[static_cast<size_t>(k)].values;
    return nullptr;
}

void XafsPanel::showMap()
{
    const std::vector<float> *values = shownValues();
    const XafsMapEntry *map = shownMap();
    ColorBar *bar = display->CBar;
    if (values && !bar->fixed()) {
        double lo = INFINITY, hi = -INFINITY;
        // Energies are spread by a few voxels far off (edges of grains, noise): their
        // grey ramp spans the 1st to 99th percentile.
        if (map && map->scale == XafsMapEntry::Scale::Percentiles) {
            XafsMapList::percentileRange(*values, 0.01, &lo, &hi);
        } else {
            for (float v : *values) {
                if (std::isfinite(v)) {
                    lo = std::min(lo, double(v));
                    hi = std::max(hi, double(v));
                }
            }
        }
        if (lo <= hi) {
            bar->setMin(lo);
            bar->setMax(hi > lo ? hi : lo + 1.0);
        }
    }
    drawPicture();
    display->resetScale();
    // The read-out follows the map shown, not the one under the mouse before.
    if (pointer.x() >= 0.0)
        showValueAt(pointer.x(), pointer.y());
}

void XafsPanel::drawPicture()
{
    const std::vector<float> *values = shownValues();
    const XafsMapEntry *map = shownMap();
    const int w = stack.width(), h = stack.height();
    clusterLegend->clear();
    clusterLegend->hide();
    if (!values || values->size() != static_cast<size_t>(w) * h || w < 1) {
        display->image = QImage();
        display->newImage();
        return;
    }
    // The picture covers the slice from its origin, so that positions read on it are
    // slice pixels as in the other result displays; outside the stack it is black.
    const int x0 = std::max(stack.x0(), 0), z0 = std::max(stack.z0(), 0);
    QImage grey(x0 + w, z0 + h, QImage::Format_Grayscale8);
    grey.fill(0);
    GreyPicture::paint(&grey, x0, z0, w, h, display->CBar->greyScale(),
                       [values, w](int z) { return values->data() + static_cast<size_t>(z) * w; });
    QImage picture = grey.convertToFormat(QImage::Format_RGB32);
    const bool clusters = map && map->scale == XafsMapEntry::Scale::Clusters;
    const QRgb undefined = undefinedColour().rgb();
    int largest = 0;
    bool anyUndefined = false;
    for (int z = 0; z < h; ++z) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(z0 + z)) + x0;
        const float *row = values->data() + static_cast<size_t>(z) * w;
        for (int x = 0; x < w; ++x) {
            if (!std::isfinite(row[x])) {
                line[x] = undefined;
                anyUndefined = true;
            } else if (clusters) {
                const int c = static_cast<int>(std::lround(row[x]));
                largest = std::max(largest, std::min(c, 64));
                line[x] = XafsPlot::clusterColour(c - 1).rgb();
            }
        }
    }
    QStringList legend;
    for (int c = 1; clusters && c <= largest; ++c)
        legend << QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2")
                      .arg(XafsPlot::clusterColour(c - 1).name())
                      .arg(c);
    if (anyUndefined)
        legend << QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2")
                      .arg(undefinedColour().name(), tr("not valid (NaN)"));
    clusterLegend->setText(legend.join(QStringLiteral(" &nbsp; ")));
    clusterLegend->setVisible(!legend.isEmpty());
    display->image = picture;
    display->newImage();
    display->update();
}

void XafsPanel::onValueAt(double x, double z)
{
    pointer = QPointF(x, z);
    showValueAt(x, z);
}

void XafsPanel::showValueAt(double x, double z)
{
    const std::vector<float> *values = shownValues();
    const int col = static_cast<int>(std::floor(x)) - stack.x0();
    const int row = static_cast<int>(std::floor(z)) - stack.z0();
    if (!values || col < 0 || row < 0 || col >= stack.width() || row >= stack.height() ||
        values->size() != static_cast<size_t>(stack.width()) * stack.height())
        return;
    const float v = (*values)[static_cast<size_t>(row) * stack.width() + col];
    display->setVal(v);
    if (!std::isfinite(v))
        info->setText(tr("Pixel %1, %2: not valid (NaN) in this map")
                          .arg(static_cast<int>(std::floor(x)))
                          .arg(static_cast<int>(std::floor(z))));
}

void XafsPanel::onPoint(double x, double z)
{
    showSpectrum(std::floor(x), std::floor(z), std::floor(x) + 1, std::floor(z) + 1);
}

void XafsPanel::onReleased()
{
    const QRectF selection(display->selX, display->selY, display->selW, display->selH);
    if (!display->selectionValid || display->selecting || selection == lastSelection)
        return;
    lastSelection = selection;
    showSpectrum(selection.left(), selection.top(), selection.right(), selection.bottom());
}

void XafsPanel::showSpectrum(double x0, double z0, double x1, double z1)
{
    region = QRectF(QPointF(x0, z0), QPointF(x1, z1));
    pixels = stack.meanOver(x0, z0, x1, z1, &mu);
    // The pixels averaged, as whole pixels: from trunc(x0) to before ceil(x1).
    const int fromX = static_cast<int>(x0), fromZ = static_cast<int>(z0);
    const int toX = std::max(fromX, static_cast<int>(std::ceil(x1)) - 1);
    const int toZ = std::max(fromZ, static_cast<int>(std::ceil(z1)) - 1);
    const QString where =
        fromX == toX && fromZ == toZ
            ? tr("Pixel %1, %2").arg(fromX).arg(fromZ)
            : tr("Region x %1 to %2, z %3 to %4").arg(fromX).arg(toX).arg(fromZ).arg(toZ);
    info->setText(tr("%1: spectrum of %2 pixel(s)").arg(where).arg(pixels));
    plot();
}

void XafsPanel::plot()
{
    // Energies as the settings' calibration shift puts them, as the exports write them.
    std::vector<double> grid = stack.energies();
    for (double &e : grid)
        e += settings().energyShift;
    if (pixels < 1 || grid.empty()) {
        plotArea->clear();
        return;
    }
    plotArea->showSpectrum(grid, mu, settings(), mapState);
}

bool XafsPanel::plotClusterMeans()
{
    std::vector<double> energies;
    std::vector<std::vector<double>> means;
    std::vector<size_t> voxels;
    if (!XafsMapList::readClusterMeans(folder, dataName, &energies, &means, &voxels)) {
        info->setText(tr("No clusters yet: press Clusters first."));
        return false;
    }
    for (double &e : energies)
        e += settings().energyShift;
    plotArea->showClusterMeans(energies, means, voxels);
    return true;
}

bool XafsPanel::exportCsv(const QString &path) const
{
    if (pixels < 1)
        return false;
    const XafsSpectrumSource source{dataName,       slices->currentText().toInt(),
                                    region.left(),  region.top(),
                                    region.right(), region.bottom(),
                                    pixels};
    return XafsSpectrum::write(path, stack.energies(), mu, settings(), source);
}

bool XafsPanel::exportPng(const QString &path) const
{
    return plotArea->grab().save(path, "png");
}

void XafsPanel::askCsvFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export spectrum"), folder,
                                                      tr("CSV (*.csv);;XDI (*.xdi)"));
    if (!path.isEmpty())
        exportCsv(path);
}

void XafsPanel::askPngFile()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export plot"), folder, tr("PNG (*.png)"));
    if (!path.isEmpty())
        exportPng(path);
}

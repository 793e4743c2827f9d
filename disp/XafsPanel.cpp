#include "XafsPanel.h"

#include "disp/ColorBar.h"
#include "disp/ImgDispWPV.h"
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
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

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
    display = new ImgDispWPV(this);
    chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    QFont legendFont = chart->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    chart->legend()->setFont(legendFont);
    chartView = new QChartView(chart, this);
    chartView->setRenderHint(QPainter::Antialiasing);
    chartView->setMinimumSize(320, 300);

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
    fit->addWidget(new QLabel(tr("Min. jump"), this), 1, 3);
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
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(display);
    split->addWidget(chartView);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({500, 500});
    auto *layout = new QGridLayout(this);
    layout->addLayout(fit, 0, 0);
    layout->addLayout(controls, 1, 0);
    layout->addWidget(split, 2, 0);
    layout->addWidget(info, 3, 0);
    layout->setRowStretch(2, 1);

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
    s.minJump = Numbers::toFiniteDouble(minJump->text());
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
    minJump->setText(Numbers::text(s.minJump));
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
    plot();
}

void XafsPanel::setBuilding(bool running)
{
    buildButton->setEnabled(!running);
    buildButton->setStyleSheet(running ? QStringLiteral("background-color: rgb(255, 255, 128);")
                                       : QStringLiteral("background-color: rgb(240, 240, 240);"));
}

void XafsPanel::setSource(const QString &xafsFolder, const QString &name)
{
    folder = xafsFolder;
    dataName = name;
    const QString current = slices->currentText();
    const QStringList found = XafsBuilder::builtSlices(folder, name);
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
    jump.clear();
    e0.clear();
    mu.clear();
    pixels = 0;
    jumpUnit = QStringLiteral("1/pixel");
    if (!slices->currentText().isEmpty()) {
        const QDir dir(folder);
        stack.load(dir.filePath(XafsBuilder::stackFileName(dataName, "mu", slice)));
        std::vector<XafsPage> page;
        if (XafsTiff::readPages(dir.filePath(XafsBuilder::stackFileName(dataName, "jump", slice)),
                                &page)) {
            jump = page.front().values;
            const QJsonObject o =
                QJsonDocument::fromJson(page.front().description.toUtf8()).object();
            jumpUnit = o.value(QLatin1String("unit")).toString(QStringLiteral("1/pixel"));
        }
        if (XafsTiff::readPages(dir.filePath(XafsBuilder::stackFileName(dataName, "e0", slice)),
                                &page))
            e0 = page.front().values;
    }
    const int shown = maps->currentIndex();
    QSignalBlocker block(maps);
    maps->clear();
    // The unit of the values the colour bar spans: the jump map's as built, the µ
    // pages' per pixel as the spectra are worked out.
    maps->addItem(tr("Edge jump (%1)").arg(jumpUnit));
    maps->addItem(tr("Edge position E0 (eV)"));
    for (double e : stack.energies())
        maps->addItem(tr("µ at %1 eV (1/pixel)").arg(e, 0, 'g', 8));
    maps->setCurrentIndex(std::clamp(shown, 0, maps->count() - 1));
    block.unblock();
    showMap();
    plot();
}

const std::vector<float> *XafsPanel::shownValues() const
{
    const int k = maps->currentIndex();
    if (k == 0)
        return &jump;
    if (k == 1)
        return &e0;
    if (k >= 2 && static_cast<size_t>(k - 2) < stack.pages().size())
        return &stack.pages()[static_cast<size_t>(k - 2)].values;
    return nullptr;
}

void XafsPanel::showMap()
{
    const std::vector<float> *values = shownValues();
    ColorBar *bar = display->CBar;
    if (values && !bar->fixed()) {
        double lo = INFINITY, hi = -INFINITY;
        for (float v : *values) {
            if (std::isfinite(v)) {
                lo = std::min(lo, double(v));
                hi = std::max(hi, double(v));
            }
        }
        if (lo <= hi) {
            bar->setMin(lo);
            bar->setMax(hi > lo ? hi : lo + 1.0);
        }
    }
    drawPicture();
    display->resetScale();
}

void XafsPanel::drawPicture()
{
    const std::vector<float> *values = shownValues();
    const int w = stack.width(), h = stack.height();
    if (!values || values->size() != static_cast<size_t>(w) * h || w < 1) {
        display->image = QImage();
        display->newImage();
        return;
    }
    // The picture covers the slice from its origin, so that positions read on it are
    // slice pixels as in the other result displays; outside the stack it is black.
    const int x0 = std::max(stack.x0(), 0), z0 = std::max(stack.z0(), 0);
    QImage picture(x0 + w, z0 + h, QImage::Format_Grayscale8);
    picture.fill(0);
    GreyPicture::paint(&picture, x0, z0, w, h, display->CBar->greyScale(),
                       [values, w](int z) { return values->data() + static_cast<size_t>(z) * w; });
    display->image = picture;
    display->newImage();
    display->update();
}

void XafsPanel::onValueAt(double x, double z)
{
    const std::vector<float> *values = shownValues();
    const int col = static_cast<int>(std::floor(x)) - stack.x0();
    const int row = static_cast<int>(std::floor(z)) - stack.z0();
    if (values && col >= 0 && row >= 0 && col < stack.width() && row < stack.height())
        display->setVal((*values)[static_cast<size_t>(row) * stack.width() + col]);
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
    info->setText(
        tr("Region x %1 - %2, z %3 - %4: %5 pixels").arg(x0).arg(x1).arg(z0).arg(z1).arg(pixels));
    plot();
}

void XafsPanel::plot()
{
    chart->removeAllSeries();
    // Series go with removeAllSeries(); a removed axis is handed back to be deleted.
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    // Energies as the settings' calibration shift puts them, as the exports write them.
    std::vector<double> grid = stack.energies();
    for (double &e : grid)
        e += settings().energyShift;
    if (pixels < 1 || grid.empty())
        return;
    const XafsNormaliser normaliser(grid, settings());
    const XafsFit fit = normaliser.fit(mu.data());
    auto *muSeries = new QLineSeries;
    muSeries->setName(tr("µ(E)"));
    auto *normSeries = new QLineSeries;
    normSeries->setName(tr("normalised µ(E)"));
    auto *preSeries = new QLineSeries;
    preSeries->setName(tr("pre-edge line"));
    auto *postSeries = new QLineSeries;
    postSeries->setName(tr("post-edge line"));
    for (size_t k = 0; k < grid.size(); ++k) {
        muSeries->append(grid[k], mu[k]);
        const double n = normaliser.normalised(fit, k, mu[k]);
        if (std::isfinite(n))
            normSeries->append(grid[k], n);
    }
    if (normaliser.problem().isEmpty()) {
        for (double e : {grid.front(), grid.back()}) {
            preSeries->append(e, fit.pre.at(e));
            postSeries->append(e, fit.post.at(e));
        }
    }
    auto *energyAxis = new QValueAxis;
    energyAxis->setTitleText(tr("Energy (eV)"));
    energyAxis->setRange(grid.front(), grid.back());
    auto *muAxis = new QValueAxis;
    muAxis->setTitleText(tr("µ per pixel"));
    auto *normAxis = new QValueAxis;
    normAxis->setTitleText(tr("normalised µ"));
    chart->addAxis(energyAxis, Qt::AlignBottom);
    chart->addAxis(muAxis, Qt::AlignLeft);
    chart->addAxis(normAxis, Qt::AlignRight);
    for (QLineSeries *s : {muSeries, preSeries, postSeries}) {
        chart->addSeries(s);
        s->attachAxis(energyAxis);
        s->attachAxis(muAxis);
    }
    chart->addSeries(normSeries);
    normSeries->attachAxis(energyAxis);
    normSeries->attachAxis(normAxis);
    double lo = *std::min_element(mu.begin(), mu.end());
    double hi = *std::max_element(mu.begin(), mu.end());
    // A margin keeps the flat parts of the spectrum and the fitted lines off the frame.
    const double margin = hi > lo ? 0.08 * (hi - lo) : 1e-6;
    muAxis->setRange(lo - margin, hi + margin);
    normAxis->setRange(-0.2, 1.6);
    if (std::isfinite(fit.e0)) {
        auto *edge = new QLineSeries;
        edge->setName(tr("E0 = %1 eV").arg(fit.e0, 0, 'f', 2));
        edge->append(fit.e0, -0.2);
        edge->append(fit.e0, 1.6);
        chart->addSeries(edge);
        edge->attachAxis(energyAxis);
        edge->attachAxis(normAxis);
    }
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
    return chartView->grab().save(path, "png");
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

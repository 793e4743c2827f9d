#include "XafsPlot.h"

#include "xafs/XafsLeastSquares.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// Lines told apart by colour: the spectrum's own lines first, then the references.
const QColor lineColours[] = {QColor(0x4e, 0x79, 0xa7), QColor(0xf2, 0x8e, 0x2b),
                              QColor(0x59, 0xa1, 0x4f), QColor(0xb0, 0x7a, 0xa1),
                              QColor(0xe1, 0x57, 0x59), QColor(0x76, 0xb7, 0xb2),
                              QColor(0x9c, 0x75, 0x5f), QColor(0xed, 0xc9, 0x48),
                              QColor(0xff, 0x9d, 0xa7), QColor(0x55, 0x55, 0x55)};

QString figure(double v, int digits = 4)
{
    return std::isfinite(v) ? QString::number(v, 'g', digits) : QStringLiteral("NaN");
}

} // namespace

XafsPlot::XafsPlot(QWidget *parent)
    : QWidget(parent)
{
    chart = new QChart;
    chart->legend()->hide();
    view = new QChartView(chart, this);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(320, 260);
    legend = new QLabel(this);
    legend->setObjectName(QStringLiteral("XafsPlotLegend"));
    legend->setWordWrap(true);
    legend->setTextFormat(Qt::RichText);
    figures = new QLabel(this);
    figures->setObjectName(QStringLiteral("XafsPlotFigures"));
    figures->setWordWrap(true);
    figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view, 1);
    layout->addWidget(legend);
    layout->addWidget(figures);
}

QColor XafsPlot::clusterColour(int cluster)
{
    // Sixteen colours apart from each other and from the grey of the other maps.
    static const QColor palette[] = {
        QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
        QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
        QColor(0x17, 0xbe, 0xcf), QColor(0xbc, 0xbd, 0x22), QColor(0xae, 0xc7, 0xe8),
        QColor(0xff, 0xbb, 0x78), QColor(0x98, 0xdf, 0x8a), QColor(0xff, 0x98, 0x96),
        QColor(0xc5, 0xb0, 0xd5), QColor(0xc4, 0x9c, 0x94), QColor(0x9e, 0xda, 0xe5),
        QColor(0x6b, 0x6e, 0xcf)};
    const int n = static_cast<int>(sizeof(palette) / sizeof(palette[0]));
    return palette[((cluster % n) + n) % n];
}

void XafsPlot::clear()
{
    chart->removeAllSeries();
    // Series go with removeAllSeries(); a removed axis is handed back to be deleted.
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    energyAxis = muAxis = normAxis = nullptr;
    names.clear();
    colours.clear();
    styles.clear();
    weights.clear();
    rfactor = 0.0;
    figureLines.clear();
    finish();
}

void XafsPlot::newAxes(double from, double to, bool withMu)
{
    energyAxis = new QValueAxis;
    energyAxis->setTitleText(tr("Energy (eV)"));
    energyAxis->setRange(from, to);
    chart->addAxis(energyAxis, Qt::AlignBottom);
    if (withMu) {
        muAxis = new QValueAxis;
        muAxis->setTitleText(tr("µ per pixel"));
        chart->addAxis(muAxis, Qt::AlignLeft);
    }
    normAxis = new QValueAxis;
    normAxis->setTitleText(tr("normalised µ"));
    normAxis->setRange(-0.2, 1.6);
    chart->addAxis(normAxis, withMu ? Qt::AlignRight : Qt::AlignLeft);
}

QLineSeries *XafsPlot::addLine(const QString &name, const QColor &colour, QValueAxis *y,
                               Qt::PenStyle style)
{
    auto *s = new QLineSeries;
    s->setName(name);
    QPen pen(colour);
    pen.setWidthF(style == Qt::SolidLine ? 1.6 : 1.3);
    pen.setStyle(style);
    s->setPen(pen);
    chart->addSeries(s);
    s->attachAxis(energyAxis);
    s->attachAxis(y);
    names << name;
    colours.push_back(colour);
    styles.push_back(style);
    return s;
}

void XafsPlot::showSpectrum(const std::vector<double> &grid, const std::vector<double> &mu,
                            const XafsSettings &settings, const XafsMapSettings &maps)
{
    clear();
    if (grid.empty() || mu.size() != grid.size())
        return;
    const XafsNormaliser normaliser(grid, settings);
    const XafsFit fit = normaliser.fit(mu.data());
    newAxes(grid.front(), grid.back(), true);
    QLineSeries *muSeries = addLine(tr("µ(E)"), lineColours[0], muAxis);
    QLineSeries *normSeries = addLine(tr("normalised µ(E)"), lineColours[1], normAxis);
    std::vector<double> normalised(grid.size(), std::nan(""));
    for (size_t k = 0; k < grid.size(); ++k) {
        muSeries->append(grid[k], mu[k]);
        normalised[k] = normaliser.normalised(fit, k, mu[k]);
        if (std::isfinite(normalised[k]))
            normSeries->append(grid[k], normalised[k]);
    }
    if (normaliser.problem().isEmpty()) {
        QLineSeries *pre = addLine(tr("pre-edge line"), lineColours[2], muAxis, Qt::DashLine);
        QLineSeries *post = addLine(tr("post-edge line"), lineColours[3], muAxis, Qt::DashLine);
        for (double e : {grid.front(), grid.back()})
            pre->append(e, fit.pre.at(e));
        // A polynomial post-edge is drawn through every energy, a line through its ends.
        for (size_t k = 0; k < grid.size(); ++k) {
            if (fit.polynomial)
                post->append(grid[k], fit.pre.at(grid[k]) + fit.curveAt(grid[k]));
            else if (k == 0 || k + 1 == grid.size())
                post->append(grid[k], fit.post.at(grid[k]));
        }
    } else {
        figureLines << normaliser.problem();
    }
    double lo = *std::min_element(mu.begin(), mu.end());
    double hi = *std::max_element(mu.begin(), mu.end());
    // A margin keeps the flat parts of the spectrum and the fitted lines off the frame.
    const double margin = hi > lo ? 0.08 * (hi - lo) : 1e-6;
    muAxis->setRange(lo - margin, hi + margin);
    if (std::isfinite(fit.e0)) {
        QLineSeries *edge = addLine(tr("E0"), lineColours[4], normAxis, Qt::DotLine);
        edge->append(fit.e0, -0.2);
        edge->append(fit.e0, 1.6);
    }
    QString edgeLine =
        tr("E0 = %1 eV")
            .arg(std::isfinite(fit.e0) ? QString::number(fit.e0, 'f', 2) : QStringLiteral("NaN"));
    edgeLine += QStringLiteral("   ") + tr("edge step = %1 per pixel").arg(figure(fit.jump));
    if (settings.pixelSizeUm > 0.0)
        edgeLine += QStringLiteral(" (%1 1/cm)").arg(figure(fit.jump * settings.unitFactor()));
    if (!fit.valid)
        edgeLine += QStringLiteral("   ") + tr("(below the minimum jump: not normalised)");
    figureLines.prepend(edgeLine);
    if (fit.valid && !maps.references.empty())
        fitReferences(grid, normalised, maps);
    finish();
}

void XafsPlot::fitReferences(const std::vector<double> &grid, const std::vector<double> &normalised,
                             const XafsMapSettings &maps)
{
    const std::vector<size_t> at = maps.rangeIndices(grid);
    std::vector<double> energies, y;
    for (size_t k : at) {
        energies.push_back(grid[k]);
        y.push_back(normalised[k]);
    }
    std::vector<std::vector<double>> references;
    for (const XafsReference &r : maps.references)
        references.push_back(r.onto(energies));
    const XafsLeastSquares solver(references, maps.sumToOne);
    std::vector<double> w(references.size(), std::nan(""));
    double r = std::nan("");
    if (energies.empty() || !solver.usable() || !solver.fit(y.data(), w.data(), &r)) {
        figureLines << tr("Fit: the references do not fit this spectrum (range or values)");
        return;
    }
    weights = w;
    rfactor = r;
    QLineSeries *sum = addLine(tr("fitted sum"), lineColours[9], normAxis, Qt::DashLine);
    QStringList parts;
    double total = 0.0;
    for (size_t i = 0; i < references.size(); ++i) {
        const QString name = maps.references[i].name;
        QLineSeries *part = addLine(QStringLiteral("%1 × %2").arg(figure(w[i], 3), name),
                                    lineColours[5 + i % 4], normAxis, Qt::DotLine);
        for (size_t k = 0; k < energies.size(); ++k)
            part->append(energies[k], w[i] * references[i][k]);
        parts << QStringLiteral("%1 %2").arg(name, QString::number(w[i], 'f', 3));
        total += w[i];
    }
    for (size_t k = 0; k < energies.size(); ++k) {
        double v = 0.0;
        for (size_t i = 0; i < references.size(); ++i)
            v += w[i] * references[i][k];
        sum->append(energies[k], v);
    }
    figureLines << tr("Fit: %1 (sum %2), R-factor %3")
                       .arg(parts.join(QStringLiteral(", ")), QString::number(total, 'f', 3),
                            figure(r, 3));
}

void XafsPlot::showClusterMeans(const std::vector<double> &grid,
                                const std::vector<std::vector<double>> &means,
                                const std::vector<size_t> &voxels)
{
    clear();
    if (grid.empty() || means.empty())
        return;
    newAxes(grid.front(), grid.back(), false);
    double lo = -0.2, hi = 1.6;
    for (size_t c = 0; c < means.size(); ++c) {
        const size_t count = c < voxels.size() ? voxels[c] : 0;
        QLineSeries *s = addLine(tr("cluster %1 (%2 voxels)").arg(c + 1).arg(count),
                                 clusterColour(static_cast<int>(c)), normAxis);
        for (size_t k = 0; k < grid.size() && k < means[c].size(); ++k) {
            if (!std::isfinite(means[c][k]))
                continue;
            s->append(grid[k], means[c][k]);
            lo = std::min(lo, means[c][k]);
            hi = std::max(hi, means[c][k]);
        }
    }
    normAxis->setRange(lo, hi);
    figureLines << tr("Mean normalised µ(E) of each cluster");
    finish();
}

QString XafsPlot::figuresText() const
{
    return figureLines.join(QLatin1Char('\n'));
}

void XafsPlot::finish()
{
    QStringList entries;
    for (int i = 0; i < names.size(); ++i) {
        const QString mark = styles[static_cast<size_t>(i)] == Qt::SolidLine
                                 ? QStringLiteral("&#9473;&#9473;")
                                 : QStringLiteral("&#9476;&#9476;");
        entries << QStringLiteral("<span style=\"color:%1\">%2</span>&nbsp;%3")
                       .arg(colours[static_cast<size_t>(i)].name(), mark,
                            names[i].toHtmlEscaped().replace(QLatin1Char(' '),
                                                             QStringLiteral("&nbsp;")));
    }
    // Entries are joined by ordinary spaces, so that the line wraps between entries only.
    legend->setText(entries.join(QStringLiteral(" &nbsp; ")));
    legend->setVisible(!entries.isEmpty());
    figures->setText(figuresText());
    figures->setVisible(!figureLines.isEmpty());
}

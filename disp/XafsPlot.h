#pragma once

#include "xafs/XafsMapSettings.h"
#include "xafs/XafsNormaliser.h"

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <vector>

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QValueAxis;

// The spectrum plot of the XAFS tab: µ(E) with the fitted pre- and post-edge lines, the
// normalised µ(E) and E0; with reference spectra the fitted sum and each weighted
// reference; or the clusters' mean spectra together. Its legend is a wrapped line of
// text under the chart, so that no entry is ever cut short, and the figures a reader
// looks for (E0, the edge step, the weights and R-factor) are written out beneath.
class XafsPlot : public QWidget
{
    Q_OBJECT
public:
    explicit XafsPlot(QWidget *parent = nullptr);

    // The spectrum `mu` on `energies` normalised by `settings`; with references in `maps`
    // the normalised spectrum is also fitted with them over the fit range.
    void showSpectrum(const std::vector<double> &energies, const std::vector<double> &mu,
                      const XafsSettings &settings, const XafsMapSettings &maps);
    // One normalised mean spectrum per cluster, `voxels[c]` voxels each.
    void showClusterMeans(const std::vector<double> &energies,
                          const std::vector<std::vector<double>> &means,
                          const std::vector<size_t> &voxels);
    void clear();

    // The colour of cluster `cluster` (from 0) in the plot and in the cluster map.
    static QColor clusterColour(int cluster);

    QStringList legendTexts() const { return names; }
    QString figuresText() const;
    // The weights of the last fit (by reference, in order) and its R-factor; empty
    // without a fit.
    const std::vector<double> &fitWeights() const { return weights; }
    double fitRFactor() const { return rfactor; }

private:
    QLineSeries *addLine(const QString &name, const QColor &colour, QValueAxis *y,
                         Qt::PenStyle style = Qt::SolidLine);
    void newAxes(double from, double to, bool withMu);
    void fitReferences(const std::vector<double> &energies, const std::vector<double> &normalised,
                       const XafsMapSettings &maps);
    void finish();

    QChart *chart;
    QChartView *view;
    QLabel *legend;
    QLabel *figures;
    QValueAxis *energyAxis = nullptr;
    QValueAxis *muAxis = nullptr;
    QValueAxis *normAxis = nullptr;
    QStringList names;
    std::vector<QColor> colours;
    std::vector<Qt::PenStyle> styles;
    std::vector<double> weights;
    double rfactor = 0.0;
    QStringList figureLines;
};

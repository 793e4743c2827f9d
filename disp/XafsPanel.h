#pragma once

#include "disp/XafsMapList.h"
#include "xafs/XafsMapSettings.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsSpectrum.h"

#include <QColor>
#include <QFrame>
#include <QRectF>

#include <vector>

class ImgDispWPV;
class QCheckBox;
class QLabel;
class QLineEdit;
class QComboBox;
class XafsMapControls;
class XafsPlot;
class QPushButton;

// The "XAFS" tab: a built slice's maps (edge jump, E0, edge50, white line, LCF weights
// and R-factor, component scores, clusters) or any energy of its stack with the usual
// display and colour bar, and the µ(E) and normalised µ(E) of the clicked pixel or
// Shift-dragged region with the fitted pre/post-edge lines, E0 and, with references,
// the fitted sum. The numbers come from the xafs core; this panel only reads, draws
// and exports, and asks for the chemical maps.
class XafsPanel : public QFrame
{
    Q_OBJECT
public:
    explicit XafsPanel(QWidget *parent = nullptr);

    // The folder holding the built stacks (<data folder>/xafs) and the data name;
    // lists the built slices again.
    void setSource(const QString &xafsFolder, const QString &name);
    // The normalisation settings of the fields; an empty field is the default.
    XafsSettings settings() const;
    void setSettings(const XafsSettings &s);
    // What the chemical maps are made with (references, fit range, white-line window).
    const XafsMapSettings &mapSettings() const { return mapState; }
    void setMapSettings(const XafsMapSettings &s);
    // The Build button shows a build in progress and is not pressed meanwhile.
    void setBuilding(bool running);
    // Chemical maps are being made: their buttons wait; `message` is said below.
    void setMapsBusy(bool busy, const QString &message = QString());
    // The slice listed first when the list of built slices changes (-1: the first).
    void preferSlice(int slice) { preferred = slice; }
    // The spectrum of the pixels x0 <= x < x1, z0 <= z < z1 of the shown slice.
    void showSpectrum(double x0, double z0, double x1, double z1);
    bool exportCsv(const QString &path) const;
    bool exportPng(const QString &path) const;

    QComboBox *sliceChoice() const { return slices; }
    QComboBox *mapChoice() const { return maps; }
    int spectrumPixels() const { return pixels; }
    XafsPlot *plotView() const { return plotArea; }
    XafsMapControls *mapControls() const { return chemistry; }
    QString statusText() const;
    // The colour of pixels whose value is not a number, which no value has.
    static QColor undefinedColour() { return QColor(255, 0, 255); }
    // Plots the clusters' mean spectra of <name>-clusters.csv together.
    bool plotClusterMeans();

signals:
    void refreshRequested();
    void buildRequested();
    void fitRequested();
    void componentsRequested();
    void clustersRequested(int k);

private slots:
    void loadSlice();
    void showMap();
    void drawPicture();
    void onPoint(double x, double z);
    void onReleased();
    void onValueAt(double x, double z);
    void askCsvFile();
    void askPngFile();

private:
    void plot();
    const std::vector<float> *shownValues() const;
    const XafsMapEntry *shownMap() const;
    void showValueAt(double x, double z);

    QString folder;
    QString dataName;
    // Settings with no field of their own (set by commands), kept as given.
    XafsSettings kept;
    XafsMapSettings mapState;
    XafsSpectrum stack;
    std::vector<XafsMapEntry> mapList;
    std::vector<double> mu;
    QRectF region;
    int pixels = 0;
    QRectF lastSelection;
    QPointF pointer{-1.0, -1.0};
    int preferred = -1;

    QComboBox *slices;
    QComboBox *maps;
    QPushButton *refresh;
    QPushButton *csvButton;
    QPushButton *pngButton;
    QLineEdit *preEdge1;
    QLineEdit *preEdge2;
    QLineEdit *postEdge1;
    QLineEdit *postEdge2;
    QLineEdit *fixedE0;
    QLineEdit *minJump;
    QCheckBox *registerEnergies;
    QLineEdit *preRelative1;
    QLineEdit *preRelative2;
    QLineEdit *normRelative1;
    QLineEdit *normRelative2;
    QComboBox *nnorm;
    QComboBox *e0Method;
    QCheckBox *flatten;
    QLineEdit *energyShift;
    QLineEdit *pixelSize;
    QString jumpUnit;
    QPushButton *buildButton;
    QLabel *info;
    QLabel *clusterLegend;
    ImgDispWPV *display;
    XafsPlot *plotArea;
    XafsMapControls *chemistry;
};

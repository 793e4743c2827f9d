#pragma once

#include "xafs/XafsMapSettings.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsSpectrum.h"

#include <QFrame>
#include <QRectF>

#include <vector>

class ImgDispWPV;
class QChart;
class QChartView;
class QCheckBox;
class QLineEdit;
class QComboBox;
class QLabel;
class QPushButton;

// The "XAFS" tab: a built slice's edge-jump map, E0 map or any energy of its stack
// with the usual display and colour bar, and the µ(E) and normalised µ(E) of the
// clicked pixel or Shift-dragged region with the fitted pre/post-edge lines and E0.
// The numbers come from the xafs core; this panel only reads, draws and exports.
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
    void setMapSettings(const XafsMapSettings &s) { mapState = s; }
    // The Build button shows a build in progress and is not pressed meanwhile.
    void setBuilding(bool running);
    // The spectrum of the pixels x0 <= x < x1, z0 <= z < z1 of the shown slice.
    void showSpectrum(double x0, double z0, double x1, double z1);
    bool exportCsv(const QString &path) const;
    bool exportPng(const QString &path) const;

    QComboBox *sliceChoice() const { return slices; }
    QComboBox *mapChoice() const { return maps; }
    int spectrumPixels() const { return pixels; }

signals:
    void refreshRequested();
    void buildRequested();

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

    QString folder;
    QString dataName;
    // Settings with no field of their own (set by commands), kept as given.
    XafsSettings kept;
    XafsMapSettings mapState;
    XafsSpectrum stack;
    std::vector<float> jump;
    std::vector<float> e0;
    std::vector<double> mu;
    QRectF region;
    int pixels = 0;
    QRectF lastSelection;

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
    ImgDispWPV *display;
    QChart *chart;
    QChartView *chartView;
};

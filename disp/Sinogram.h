#pragma once

#include "ct/HSgm.h"

#include <QFrame>
#include <QMetaObject>
#include <QVector>

class ImgDatas;
class ImgDispWPV;
class ProcCtrl;

namespace Ui {
class Sinogram;
}

// Shows the sinogram of the slice chosen in the process controls over 360
// degrees (the measured half and its mirror image) and, on request, the
// magnitude of its two-dimensional Fourier transform. It also offers the
// sinogram generation to the reconstruction engines.
class Sinogram : public QFrame
{
    Q_OBJECT
public:
    explicit Sinogram(QWidget *parent = nullptr);
    ~Sinogram() override;

    // Connects the controls' change signals to the slots of the same names.
    void setProcCtrl(ProcCtrl *procCtrl);
    ProcCtrl *procCtrl() const { return proc; }
    void setImgDatas(ImgDatas *imgDatas) { stack = imgDatas; }
    ImgDatas *imgDatas() const { return stack; }

    // The sinogram made by genSinogram(). Writing through this accessor marks it as
    // new, so the next genImage() takes it.
    HSgm &ownSinogram()
    {
        ownFresh = true;
        return own;
    }
    const HSgm &ownSinogram() const { return own; }
    ImgDispWPV *sinogramDisplay() const;
    ImgDispWPV *fourierDisplay() const;
    double dataMin() const { return minValue; }
    double dataMax() const { return maxValue; }

public slots:
    void newPos(double x, double y);
    void corUpdated();
    void sliceNoUpdated();
    void rotAxUpdated();
    void autoUpdateUpdated();
    void corEditingFinished();
    // Safe to call from several threads at once, each with its own HSgm.
    void genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice);
    void genSinogram();
    void genImage();
    void genSgmImage();
    void genFouSImage();
    void setGenFouS(bool f);
    // "Gen Image": build the sinogram, then the pictures.
    void genImageClicked();

private:
    void regenerateWhenAuto();
    bool takeOwnSinogram();
    // A 360-degree scan (ProcCtrl): its sinogram is shown as measured, not mirrored.
    bool fullTurn() const;

    Ui::Sinogram *ui;
    ProcCtrl *proc = nullptr;
    QList<QMetaObject::Connection> procConnections;
    ImgDatas *stack = nullptr;
    HSgm own;
    // Set when the own sinogram may have changed since the pictures were made;
    // a colour-bar change alone rebuilds from the kept copy without copying again.
    bool ownFresh = false;
    // The raw intensities behind the pictures on show: the pictures and the value
    // read-out stay together when a later sinogram cannot be made.
    QVector<double> shownRaw;
    int shownWidth = 0;
    int shownRows = 0;
    double minValue = 0.0;
    double maxValue = 0.0;
};

#pragma once

#include "ct/CtRunParams.h"

#include <QFrame>

class QAbstractButton;
class QButtonGroup;

namespace Ui {
class ProcCtrl;
}

// The process parameters of a reconstruction: CoR, rotation axis, current slice,
// slice range, step and threads of a multi-slice run, the sinogram auto-update,
// and a memory of the last two recorded CoRs. Each change is reported once, only
// when the value really changed.
class ProcCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit ProcCtrl(QWidget *parent = nullptr);
    ~ProcCtrl() override;

    bool rotAxIsV() const { return rotAxV; }
    int sliceNo() const { return slice; }
    double cor() const { return corValue; }
    bool autoUpdate() const;
    bool autoExec() const;
    int from() const;
    int to() const;
    int step() const;
    int threads() const;
    CtRunParams runParams(bool calcCt1, bool calcCt2) const;

    void setAutoUpdate(bool f);
    void setAutoExec(bool f);
    void setThreads(int n);
    void setThreadsMaximum(int n);
    // Checks RotAxV or RotAxH; reports rotAxUpdated() only when the axis changes.
    void setRotAxIsV(bool vertical);
    // The FBP filter: "Padded" (FilterPadded) and the window (FilterWindow),
    // one of CtFilter::names(); an unknown name is refused with a debug line.
    bool filterPadded() const;
    QString filterName() const;
    void setFilterPadded(bool f);
    bool setFilterName(const QString &name);
    // The arithmetic of the run (Precision combo): "double" or "single", one of
    // CtFbp::precisionNames(); an unknown name is refused with a debug line.
    QString precisionName() const;
    bool setPrecisionName(const QString &name);
    // The scan geometry: "Scan range" (ScanRange, 180 or 360 degrees; anything else
    // is refused with a debug line) and the angle file ("Angles", AnglesFile; empty:
    // the projections spread evenly over the range).
    int scanRange() const;
    bool setScanRange(int degrees);
    QString anglesFile() const;
    void setAnglesFile(const QString &path);
    // Angles in degrees that came with the data (an HDF5 scan's rotation angles),
    // used when no angle file is named; `source` goes to the run record. Empty
    // angles forget them (a load of other data).
    void setScanAngles(std::vector<double> anglesDeg, const QString &source);
    // Stripe removal before filtering (RingRemoval spin box): the window, 0 off.
    int ringRemoval() const;
    void setRingRemoval(int window);

signals:
    void autoUpdateUpdated();
    void autoExecUpdated();
    void rotAxUpdated();
    void sliceNoUpdated();
    void corUpdated();
    void askGenImage();
    // "Find" (FindCor) next to the centre field was clicked.
    void findCorClicked();

public slots:
    void recordCoR();
    void sliceNoEditingFinished();
    void corEditingFinished();
    void rotAxSelectionChanged(QAbstractButton *button);
    void setCor(double cor);
    void setSliceNo(int sliceNo);
    void setSliceFrom(int from);
    void setSliceTo(int to);
    void setSliceStep(int step);

private:
    void addFilterControls();
    void addCorAndRingControls();
    void addPrecisionControl();
    void addGeometryControls();
    void pickAnglesFile();
    static QString recordText(double cor, int slice);

    Ui::ProcCtrl *ui;
    QButtonGroup *axisGroup;
    bool rotAxV = false;
    int slice = 0;
    double corValue = 0.0;
    double recordedCoR1 = 0.0;
    double recordedCoR2 = 0.0;
    int recordedSlice1 = -1;
    int recordedSlice2 = -1;
    std::vector<double> scanAngles;
    QString scanAnglesSource;
};

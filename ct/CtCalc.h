#pragma once

#include "ct/CtFbp.h"
#include "ct/HSgm.h"

#include <QDateTime>
#include <QFrame>
#include <QRectF>
#include <QString>
#include <QThread>

class CtProgress;
class ImgDispWPV;
class SavingData;
class SavingImg;
class Sinogram;

namespace Ui {
class CtCalc;
}

// "CT1": the interactive reconstruction of the slice chosen in the process
// controls, on the GUI thread, either at once or projection by projection so
// that the picture builds up on the screen. A relay on a thread of its own paces
// the projections, one per GUI event, so the screen repaints and user input is
// handled in between.
//
// The values are the engines' divided by the number of projections P (the ramp
// filter's inverse transform is scaled by 1 / (N P) instead of 1 / N), so a
// result does not grow with the number of projections.
class CtCalc : public QFrame
{
    Q_OBJECT

public:
    explicit CtCalc(QWidget *parent = nullptr);
    ~CtCalc() override;

    void setSinogram(Sinogram *panel) { sinogram = panel; }
    bool isRunning() const { return running; }
    ImgDispWPV *display() const;
    // The result of the last run (partial while a one-by-one run goes on).
    const CtFbp &core() const { return fbp; }

signals:
    void askToStartCalc();
    void startCalcAll();
    void calcFinished();
    void startCalcOneByOne();
    void finishedCalcOne();
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    // Declared for the saver's wiring; this panel keeps its save settings only.
    void saveDataWDiscard(SavingData *data);
    void saveImgWDiscard(SavingImg *img);

public slots:
    void startCt();
    void stopCt();
    void endCt();
    void calcAll();
    void calcOne(int iz);
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();
    void calcCt();
    void genResImage();
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);
    void setSaveImage(bool f, QString path, QString name, QString tag);
    void setSaveData(bool f, QString path, QString name, QString tag);

private slots:
    void oneByOneFinished();

private:
    bool takeSinogram();
    // Row i of the own sinogram scaled by 1 / P into rowBuffer.
    const double *scaledRow(int i);
    void showTimes();

    Ui::CtCalc *ui;
    CtFbp fbp;
    int nFft = 0;
    int nProj = 0;
    QThread progressThread;
    CtProgress *progress;
    Sinogram *sinogram = nullptr;
    // The sinogram of the run, the panel's own: the viewer's may be rebuilt at
    // another size while a one-by-one run waits between projections.
    HSgm hSgm;
    std::vector<double> rowBuffer;
    QDateTime start;
    QDateTime end;
    bool running = false;
    // The run computes everything in one calcAll(); it has not come yet.
    bool allPending = false;
    // The projection the one-by-one run takes next; relay events for any other
    // step are left from a run that was stopped.
    int nextStep = 0;
    bool calcRegionSet = false;
    // The calculation region of the run, copied at its start.
    double x0 = 0.0, z0 = 0.0, x1 = 0.0, z1 = 0.0;
    bool saveImageF = false;
    QString imagePath, imageName, imageTag;
    bool saveDataF = false;
    QString dataPath, dataName, dataTag;
};

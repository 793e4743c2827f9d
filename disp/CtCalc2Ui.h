#pragma once

#include <QDateTime>
#include <QFrame>
#include <QImage>
#include <QRectF>
#include <QVector>

class ColorBar;
class ImgDispWPV;

namespace Ui {
class CtCalc;
}

// The result panel of one reconstruction engine: the slice picture, the display
// region D (what is visible) and the calculation region C (what to reconstruct),
// the times and the slice number of the run. The engine works on its own thread;
// it hands over each finished picture together with a copy of the values, so the
// position read-out never touches data the engine is still writing.
class CtCalc2Ui : public QFrame
{
    Q_OBJECT
public:
    explicit CtCalc2Ui(QWidget *parent = nullptr);
    ~CtCalc2Ui() override;

    // Sizes the read-outs of the shared "CtCalc" form for the widest values they show.
    static void fitFields(Ui::CtCalc *form);

    ImgDispWPV *display() const;
    ColorBar *bar() const;
    QImage &image();

    double dRx0() const;
    double dRz0() const;
    double dRx1() const;
    double dRz1() const;
    double cRx0() const;
    double cRz0() const;
    double cRx1() const;
    double cRz1() const;
    bool calcRegionChanged() const { return cRChanged; }
    void clearCalcRegionChanged() { cRChanged = false; }

    QDateTime startTime;
    QDateTime endTime;

signals:
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);

public slots:
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();
    void showStartTime();
    void showEndTime();
    void showSpentT();
    void showSliceNo(int no);
    void newImage();
    void saveImage(QString fname);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);
    // A finished result: its picture and a copy of its values, row after row.
    void showResult(QImage picture, QVector<double> values, int width, int rows);

private:
    Ui::CtCalc *ui;
    bool cRChanged = false;
    QVector<double> resultValues;
    int resultWidth = 0;
    int resultRows = 0;
};

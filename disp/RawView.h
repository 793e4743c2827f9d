#pragma once

#include "disp/MouseC.h"

#include <QObject>
#include <QPen>
#include <functional>

class ImgDatas;
class ProcCtrl;
class QPainter;
class RawDisp;
class SeekCtrl;

// The raw projection chosen on the seek control, and what is drawn over it: the
// cursor, the slice and CoR lines of the process control, and the rectangle that
// selects a region and a slice range. A click picks the slice, a right click the
// CoR.
class RawView : public QObject
{
    Q_OBJECT
public:
    RawView(RawDisp *display, ProcCtrl *proc, SeekCtrl *seek, ImgDatas *stack,
            QObject *parent = nullptr);

    // Called with a selected region (x0, z0, x1, z1) for every result panel; the
    // panels belong to the window.
    std::function<void(double, double, double, double)> regionSelected;

public slots:
    void updateRawImage();
    void newPosOnRawImg(double x, double y);
    void selectedAPointInRawImg(double x, double y, MouseC::MStat s);
    void draw(QPainter *p);
    void showDispRaw();

private:
    void drawFirstSteps(QPainter *p);
    void applySelection(double across0, double across1, double along0, double along1);

    RawDisp *rawDisp;
    ProcCtrl *procCtrl;
    SeekCtrl *seekCtrl;
    ImgDatas *imgDatas;
    QPen cursorPen;
    QPen slicePen;
    QPen corPen;
    QPen selectingPen;
    QPen regionPen;
};

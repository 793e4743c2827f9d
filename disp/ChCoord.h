#pragma once

#include "disp/MouseC.h"

#include <QMetaObject>
#include <QObject>

// A linear mapping, per axis, between a screen rectangle in widget pixels and a
// rectangle of real (image or data) coordinates. A zero extent on either side
// gives infinite or NaN coordinates; callers convert them to int only through
// the saturating helpers, so nothing here is undefined.
class ChCoord : public QObject
{
    Q_OBJECT
public:
    explicit ChCoord(QObject *parent = nullptr);

    void setWidgetRange(double x0, double x1, double y0, double y1);
    void setRealRange(double x0, double x1, double y0, double y1);
    void setRealXRange(double x0, double x1);
    void setRealYRange(double y0, double y1);
    void applyMargins();
    void setMargins(double left, double right, double top, double bottom);

    double realToScreenX(double x) const;
    double realToScreenY(double y) const;
    double realToScreenYFlipped(double y) const;
    double realLengthToScreenX(double d) const;
    double realLengthToScreenY(double d) const;
    double screenToRealX(double x) const;
    double screenToRealY(double y) const;
    double screenToRealOffsetX(double x) const;
    double screenToRealOffsetY(double y) const;
    double screenToRealClampedX(double x) const;
    double screenToRealClampedY(double y) const;
    double screenLengthToRealX(double d) const;
    double screenLengthToRealY(double d) const;

    bool nearWidgetEdgeX(double v) const;
    bool nearWidgetEdgeY(double v) const;
    bool nearScreenEdgeX(double v) const;
    bool nearScreenEdgeY(double v) const;

    void connectMouse(MouseC *mouse);
    void setWheelZoomEnabled(bool enabled) { wheelZoom = enabled; }
    void setPanState(MouseC::MStat state) { panState = state; }

    double sx0 = 0, sx1 = 1, sy0 = 0, sy1 = 1;
    double SX0 = 0, SX1 = 1, SY0 = 0, SY1 = 1;
    double RX0 = 0, RX1 = 1, RY0 = 0, RY1 = 1;
    double savedRX0 = 0, savedRX1 = 1, savedRY0 = 0, savedRY1 = 1;
    bool xChanged = false;
    bool yChanged = false;

signals:
    void updated();
    void nowPos(double x, double y);
    void newVLines();

public slots:
    void clearScale();
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);

private:
    static bool nearEdge(double v, double lo, double hi, double band);
    static double clampBetween(double v, double a, double b);

    MouseC *mouse = nullptr;
    QList<QMetaObject::Connection> mouseConnections;
    bool wheelZoom = true;
    MouseC::MStat panState = MouseC::LeftShift;
    double widgetBand = 0.1;
    double screenBand = 0.1;
    double marginLeft = 0.1, marginRight = 0.05, marginTop = 0.05, marginBottom = 0.1;
};

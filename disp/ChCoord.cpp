#include "ChCoord.h"

#include <algorithm>
#include <cmath>

ChCoord::ChCoord(QObject *parent)
    : QObject(parent)
{
}

void ChCoord::setWidgetRange(double x0, double x1, double y0, double y1)
{
    sx0 = SX0 = x0;
    sx1 = SX1 = x1;
    sy0 = SY0 = y0;
    sy1 = SY1 = y1;
}

void ChCoord::setRealRange(double x0, double x1, double y0, double y1)
{
    setRealXRange(x0, x1);
    setRealYRange(y0, y1);
}

void ChCoord::setRealXRange(double x0, double x1)
{
    RX0 = savedRX0 = x0;
    RX1 = savedRX1 = x1;
    xChanged = true;
}

void ChCoord::setRealYRange(double y0, double y1)
{
    RY0 = savedRY0 = y0;
    RY1 = savedRY1 = y1;
    yChanged = true;
}

void ChCoord::setMargins(double left, double right, double top, double bottom)
{
    marginLeft = left;
    marginRight = right;
    marginTop = top;
    marginBottom = bottom;
}

void ChCoord::applyMargins()
{
    SX0 = sx0 + std::trunc((sx1 - sx0) * marginLeft);
    SX1 = sx1 - std::trunc((sx1 - sx0) * marginRight);
    SY0 = sy0 + std::trunc((sy1 - sy0) * marginBottom);
    SY1 = sy1 - std::trunc((sy1 - sy0) * marginTop);
}

double ChCoord::realToScreenX(double x) const
{
    return (SX1 - SX0) / (RX1 - RX0) * (x - RX0) + SX0;
}

double ChCoord::realToScreenY(double y) const
{
    return (SY1 - SY0) / (RY1 - RY0) * (y - RY0) + SY0;
}

double ChCoord::realToScreenYFlipped(double y) const
{
    return SY1 - realToScreenY(y);
}

double ChCoord::realLengthToScreenX(double d) const
{
    return (SX1 - SX0) / (RX1 - RX0) * d;
}

double ChCoord::realLengthToScreenY(double d) const
{
    return (SY1 - SY0) / (RY1 - RY0) * d;
}

double ChCoord::screenToRealX(double x) const
{
    return screenToRealOffsetX(x) + RX0;
}

double ChCoord::screenToRealY(double y) const
{
    return screenToRealOffsetY(y) + RY0;
}

double ChCoord::screenToRealOffsetX(double x) const
{
    return (RX1 - RX0) / (SX1 - SX0) * (x - SX0);
}

double ChCoord::screenToRealOffsetY(double y) const
{
    return (RY1 - RY0) / (SY1 - SY0) * (y - SY0);
}

double ChCoord::clampBetween(double v, double a, double b)
{
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    if (v < lo)
        return lo;
    if (v > hi)
        return hi;
    return v;
}

double ChCoord::screenToRealClampedX(double x) const
{
    return clampBetween(screenToRealX(x), RX0, RX1);
}

double ChCoord::screenToRealClampedY(double y) const
{
    return clampBetween(screenToRealY(y), RY0, RY1);
}

double ChCoord::screenLengthToRealX(double d) const
{
    return (RX1 - RX0) / (SX1 - SX0) * d;
}

double ChCoord::screenLengthToRealY(double d) const
{
    return (RY1 - RY0) / (SY1 - SY0) * d;
}

bool ChCoord::nearEdge(double v, double lo, double hi, double band)
{
    const double margin = band * std::fabs(hi - lo);
    return v > std::max(lo, hi) - margin || v < std::min(lo, hi) + margin;
}

bool ChCoord::nearWidgetEdgeX(double v) const
{
    return nearEdge(v, sx0, sx1, widgetBand);
}

bool ChCoord::nearWidgetEdgeY(double v) const
{
    return nearEdge(v, sy0, sy1, widgetBand);
}

bool ChCoord::nearScreenEdgeX(double v) const
{
    return nearEdge(v, SX0, SX1, screenBand);
}

bool ChCoord::nearScreenEdgeY(double v) const
{
    return nearEdge(v, SY0, SY1, screenBand);
}

void ChCoord::connectMouse(MouseC *newMouse)
{
    for (const auto &c : std::as_const(mouseConnections))
        disconnect(c);
    mouseConnections.clear();
    mouse = newMouse;
    if (!mouse)
        return;
    mouseConnections << connect(mouse, &MouseC::mMoved, this, &ChCoord::mMoved)
                     << connect(mouse, &MouseC::mPressed, this, &ChCoord::mPressed)
                     << connect(mouse, &MouseC::mReleased, this, &ChCoord::mReleased)
                     << connect(mouse, &MouseC::mDClicked, this, &ChCoord::mDClicked)
                     << connect(mouse, &MouseC::wMoved, this, &ChCoord::wheelMoved);
}

void ChCoord::clearScale()
{
    xChanged = yChanged = false;
    RX0 = RX1 = RY0 = RY1 = 0.0;
}

void ChCoord::mMoved()
{
    if (!mouse)
        return;
    emit nowPos(screenToRealX(mouse->current.x()), screenToRealY(mouse->current.y()));
    if (mouse->pressed && mouse->pressState() == panState) {
        const double dx = screenToRealX(mouse->previous.x()) - screenToRealX(mouse->current.x());
        const double dy = screenToRealY(mouse->previous.y()) - screenToRealY(mouse->current.y());
        RX0 += dx;
        RX1 += dx;
        RY0 += dy;
        RY1 += dy;
        emit updated();
    }
}

void ChCoord::mPressed()
{
    if (mouse)
        emit updated();
}

void ChCoord::mDClicked()
{
    if (mouse)
        emit updated();
}

void ChCoord::mReleased()
{
    if (!mouse)
        return;
    if (mouse->pressState() == MouseC::Right) {
        const int px = mouse->pressPos.x();
        const int rx = mouse->releasePos.x();
        const int py = mouse->pressPos.y();
        const int ry = mouse->releasePos.y();
        const double x0 = screenToRealX(std::min(px, rx));
        const double x1 = screenToRealX(std::max(px, rx));
        double y0, y1;
        if (px <= rx) {
            y0 = screenToRealY(ry);
            y1 = screenToRealY(py);
        } else {
            y0 = screenToRealY(py);
            y1 = screenToRealY(ry);
        }
        setRealRange(x0, x1, y0, y1);
    }
    emit updated();
}

void ChCoord::wheelMoved(int step)
{
    if (!mouse || !wheelZoom)
        return;
    const double factor = step >= 0 ? 1.0 / 1.1 : 1.1;
    const double mx = mouse->current.x();
    const double my = mouse->current.y();
    const bool inXBand = nearScreenEdgeX(mx);
    const bool inYBand = nearScreenEdgeY(my);
    bool zoomX = true;
    bool zoomY = true;
    if (inXBand && !inYBand)
        zoomX = false;
    else if (inYBand && !inXBand)
        zoomY = false;
    if (zoomX) {
        const double v = screenToRealX(mx);
        RX0 = (RX0 - v) * factor + v;
        RX1 = (RX1 - v) * factor + v;
        xChanged = true;
    }
    if (zoomY) {
        const double v = screenToRealY(my);
        RY0 = (RY0 - v) * factor + v;
        RY1 = (RY1 - v) * factor + v;
        yChanged = true;
    }
    emit updated();
}

#include "ImgDisp.h"

#include "disp/ChCoord.h"
#include "disp/DispA.h"
#include "util/Numbers.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPainter>
#include <QStyleHints>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr Qt::KeyboardModifiers kSelectKeys =
    Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;

Qt::KeyboardModifiers selectKeysOf(Qt::KeyboardModifiers m)
{
    return m & kSelectKeys;
}

// Pictures larger than this are not saved: the copy would take gigabytes.
constexpr qint64 kLargestSavedPixels = qint64(1) << 28;

} // namespace

ImgDisp::ImgDisp(QWidget *parent)
    : DispAWLayout(parent)
    , mouse(dispA()->mouse())
    , coord(dispA()->coord())
{
    setMouseTracking(true);
    connect(this, &DispAWLayout::wheelMoved0, this, &ImgDisp::onWheelMoved);
    connect(this, &DispAWLayout::mouseMoved0, this, &ImgDisp::onMouseMoved);
    connect(this, &DispAWLayout::mousePressed0, this, &ImgDisp::onMousePressed);
    connect(this, &DispAWLayout::mouseReleased0, this, &ImgDisp::onMouseReleased);
    connect(this, &DispAWLayout::drawImage1, this, &ImgDisp::draw);
}

// Image rows run downwards on the screen: the widget's top row (screen y = height
// is the bottom) maps onto the top of the view.
void ImgDisp::refreshMapping()
{
    const QRectF v = view();
    coord->setRealRange(v.x(), v.x() + v.width(), v.y() + v.height(), v.y());
}

// A round slice must look round: the window is widened about its centre along the
// axis where the area has room to spare, so that one image pixel covers the same
// screen length across and down. Everything that maps between screen and image
// goes through this view, so read-outs stay exact where the picture is drawn.
QRectF ImgDisp::view() const
{
    const double areaW = dispA()->width();
    const double areaH = dispA()->height();
    const double w = s.width();
    const double h = s.height();
    if (!keepAspect || !(areaW >= 1.0) || !(areaH >= 1.0) || !(w > 0.0) || !(h > 0.0) ||
        !std::isfinite(w) || !std::isfinite(h))
        return s;
    const double pixelsPerUnit = std::min(areaW / w, areaH / h);
    const double viewW = areaW / pixelsPerUnit;
    const double viewH = areaH / pixelsPerUnit;
    const QPointF centre = s.center();
    return QRectF(centre.x() - viewW / 2.0, centre.y() - viewH / 2.0, viewW, viewH);
}

void ImgDisp::repaintArea()
{
    dispA()->update();
}

void ImgDisp::draw(QPainter *p)
{
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        return;
    // The screen copy is remade only when the picture changed (any write to the
    // image changes its cache key), so zooming and panning a large picture only
    // scale the visible part.
    if (screenPicture.isNull() || screenPictureKey != image.cacheKey()) {
        screenPicture = image.convertToFormat(QImage::Format_RGB32);
        screenPictureKey = image.cacheKey();
        ++conversions;
    }
    const QRectF v = view();
    const double w = v.width();
    const double h = v.height();
    if (!(w > 0.0) || !(h > 0.0) || !std::isfinite(w) || !std::isfinite(h))
        return;
    // Only the window itself is drawn; the rest of the view stays white, so the
    // picture shows exactly the display region that its owner reports.
    const QRectF visible = s.intersected(QRectF(0, 0, image.width(), image.height()));
    if (visible.isEmpty())
        return;
    const double kx = dispA()->width() / w;
    const double ky = dispA()->height() / h;
    const QRectF target((visible.x() - v.x()) * kx, (visible.y() - v.y()) * ky,
                        visible.width() * kx, visible.height() * ky);
    p->drawImage(target, screenPicture, visible);
}

void ImgDisp::onMouseMoved()
{
    refreshMapping();
    const double x = coord->screenToRealX(mouse->current.x());
    const double y = coord->screenToRealY(mouse->current.y());
    emit newPos(Numbers::saturateToInt(x), Numbers::saturateToInt(y));
    if (mouse->pressed && mouse->pressButton == Qt::LeftButton) {
        if ((mouse->current - mouse->pressPos).manhattanLength() >=
            QGuiApplication::styleHints()->startDragDistance())
            pressDragged = true;
        const Qt::KeyboardModifiers keys = selectKeysOf(mouse->pressModifiers);
        if (keys == Qt::ShiftModifier && selecting) {
            selW = x - selX;
            selH = y - selY;
        } else if (keys == Qt::NoModifier) {
            const double dx = coord->screenToRealX(mouse->previous.x()) - x;
            const double dy = coord->screenToRealY(mouse->previous.y()) - y;
            s.translate(dx, dy);
            // Follow the new window at once so that overlays drawn in this repaint
            // and a release right after see the picture where it now is.
            refreshMapping();
            emit newS(s);
        }
    }
    repaintArea();
}

void ImgDisp::onMousePressed()
{
    refreshMapping();
    pressDragged = false;
    const Qt::KeyboardModifiers keys = selectKeysOf(mouse->pressModifiers);
    if (mouse->pressButton == Qt::LeftButton && keys == Qt::ShiftModifier) {
        selecting = true;
        selX = coord->screenToRealX(mouse->current.x());
        selY = coord->screenToRealY(mouse->current.y());
        selW = selH = 0.0;
    } else if (mouse->pressButton == Qt::RightButton && keys == Qt::ShiftModifier) {
        selecting = false;
        selX = selY = selW = selH = 0.0;
    }
    repaintArea();
}

void ImgDisp::onMouseReleased()
{
    const Qt::KeyboardModifiers keys = selectKeysOf(mouse->pressModifiers);
    const double x = coord->screenToRealX(mouse->current.x());
    const double y = coord->screenToRealY(mouse->current.y());
    if (mouse->pressButton == Qt::LeftButton) {
        if (keys == Qt::ShiftModifier && selecting) {
            selecting = false;
            const double endX = selX + selW;
            const double endY = selY + selH;
            if (selX != endX && selY != endY) {
                const double x0 = std::min(selX, endX);
                const double y0 = std::min(selY, endY);
                selW = std::max(selX, endX) - x0;
                selH = std::max(selY, endY) - y0;
                selX = x0;
                selY = y0;
                selectionValid = true;
            }
        }
        if (keys == Qt::NoModifier)
            emit selectedAPoint(x, y, mouse->pressState());
    } else if (mouse->pressButton == Qt::RightButton && keys == Qt::NoModifier) {
        emit selectedAPoint(x, y, mouse->pressState());
    }
    repaintArea();
}

// The window is scaled about the image point under the mouse, which therefore
// stays where it is on the screen, whether or not the view is wider than `s`.
void ImgDisp::onWheelMoved()
{
    if (keepAspect)
        refreshMapping();
    const double rx = coord->screenToRealX(mouse->current.x());
    const double ry = coord->screenToRealY(mouse->current.y());
    const double f = mouse->wheelFactor;
    s = QRectF(rx - (rx - s.x()) * f, ry - (ry - s.y()) * f, s.width() * f, s.height() * f);
    refreshMapping();
    emit newS(s);
    repaintArea();
}

void ImgDisp::newImage()
{
    if (qint64(image.width()) * image.height() < 1)
        return;
    if (!scaleSet) {
        s = QRectF(0, 0, image.width(), image.height());
        refreshMapping();
        scaleSet = true;
        emit newS(s);
    }
    repaintArea();
}

void ImgDisp::resetScale()
{
    s = QRectF(0, 0, image.width(), image.height());
    refreshMapping();
    repaintArea();
}

void ImgDisp::saveImage(QString fname)
{
    const int x0 = Numbers::saturateToInt(s.x());
    const int y0 = Numbers::saturateToInt(s.y());
    const int w = Numbers::saturateToInt(s.width());
    const int h = Numbers::saturateToInt(s.height());
    if (w < 1 || h < 1 || image.isNull())
        return;
    if (qint64(w) * h > kLargestSavedPixels) {
        qDebug() << "Window too large to save" << fname << w << h;
        return;
    }
    QImage source = image;
    if (source.depth() % 8 != 0)
        source = source.convertToFormat(QImage::Format_Grayscale8);
    // The window may lie partly or wholly outside the picture (pan and zoom are
    // unbounded); those pixels are black. The overlap is found in 64 bits so
    // that windows near the int limits do not overflow.
    QImage window(w, h, source.format());
    if (window.isNull())
        return;
    window.setColorTable(source.colorTable());
    window.fill(0);
    const qint64 left = std::max<qint64>(x0, 0);
    const qint64 top = std::max<qint64>(y0, 0);
    const qint64 right = std::min<qint64>(qint64(x0) + w, source.width());
    const qint64 bottom = std::min<qint64>(qint64(y0) + h, source.height());
    const int bytesPerPixel = source.depth() / 8;
    for (qint64 row = top; row < bottom && left < right; ++row) {
        const uchar *from = source.constScanLine(int(row)) + left * bytesPerPixel;
        uchar *to = window.scanLine(int(row - y0)) + (left - x0) * bytesPerPixel;
        std::memcpy(to, from, size_t((right - left) * bytesPerPixel));
    }
    window.save(fname);
}

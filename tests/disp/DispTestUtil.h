#pragma once

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

// Events the QTest helpers cannot make: wheel turns and moves with modifiers held.
namespace DispTest {

inline void wheel(QWidget *w, QPoint pos, int angleDeltaY,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWheelEvent event(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, angleDeltaY),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

inline void move(QWidget *w, QPoint pos, Qt::MouseButtons buttons = Qt::NoButton,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(QEvent::MouseMove, QPointF(pos), QPointF(w->mapToGlobal(pos)), Qt::NoButton,
                      buttons, modifiers);
    QApplication::sendEvent(w, &event);
}

inline QImage ramp(int w, int h)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar((x + y) % 256);
    return image;
}

} // namespace DispTest

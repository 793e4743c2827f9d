#include "DispA.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget *parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setMouseTracking(true);
}

// The screen y range runs from the height down to 0 so that the top row of the
// widget maps onto the top of the real y range.
void DispA::followWidgetSize()
{
    chCoord.setWidgetRange(0, width(), height(), 0);
}

void DispA::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    // The mapping must follow the size before the first paint too, so that mouse
    // and wheel events arriving earlier see the real size.
    followWidgetSize();
}

void DispA::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(0, 0, width(), height(), Qt::white);
    followWidgetSize();
    emit drawImage0(&p);
    emit drawImage1(&p);
    emit drawImage2(&p);
}

void DispA::mouseMoveEvent(QMouseEvent *event)
{
    if (event->modifiers().testFlag(Qt::AltModifier))
        return;
    mouseC.recordMove(event);
    emit mouseMoved0();
    update();
}

void DispA::mousePressEvent(QMouseEvent *event)
{
    mouseC.recordPress(event);
    emit mousePressed0();
}

void DispA::mouseReleaseEvent(QMouseEvent *event)
{
    mouseC.recordRelease(event);
    emit mouseReleased0();
}

void DispA::mouseDoubleClickEvent(QMouseEvent *event)
{
    mouseC.recordDoubleClick(event);
    emit mouseDoubleClicked0();
}

void DispA::wheelEvent(QWheelEvent *event)
{
    mouseC.recordWheel(event);
    emit wheelMoved0();
}

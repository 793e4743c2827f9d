#include "MouseC.h"

#include "util/Numbers.h"

#include <QMouseEvent>
#include <QWheelEvent>

MouseC::MouseC(QObject *parent)
    : QObject(parent)
{
}

MouseC::MStat MouseC::classify(Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    int base = 0;
    if (button == Qt::RightButton)
        base = 8;
    else if (button != Qt::LeftButton)
        return OtherButton;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const bool alt = modifiers.testFlag(Qt::AltModifier);
    int combination = 0;
    if (shift && ctrl && alt)
        combination = 7;
    else if (ctrl && alt)
        combination = 6;
    else if (shift && alt)
        combination = 5;
    else if (shift && ctrl)
        combination = 4;
    else if (alt)
        combination = 3;
    else if (ctrl)
        combination = 2;
    else if (shift)
        combination = 1;
    return static_cast<MStat>(base + combination);
}

void MouseC::takePosition(const QMouseEvent *event)
{
    previous = current;
    const QPointF p = event->position();
    current = QPoint(Numbers::saturateToInt(p.x()), Numbers::saturateToInt(p.y()));
}

void MouseC::recordMove(const QMouseEvent *event)
{
    takePosition(event);
    button = event->button();
    modifiers = event->modifiers();
    emit mMoved();
}

void MouseC::recordPress(const QMouseEvent *event)
{
    takePosition(event);
    pressPos = current;
    pressed = true;
    button = pressButton = event->button();
    modifiers = pressModifiers = event->modifiers();
    emit mPressed();
}

void MouseC::recordRelease(const QMouseEvent *event)
{
    takePosition(event);
    releasePos = current;
    pressed = false;
    button = releaseButton = event->button();
    modifiers = releaseModifiers = event->modifiers();
    emit mReleased();
}

void MouseC::recordDoubleClick(const QMouseEvent *event)
{
    const QPointF p = event->position();
    doubleClickPos = QPoint(Numbers::saturateToInt(p.x()), Numbers::saturateToInt(p.y()));
    button = doubleClickButton = event->button();
    modifiers = doubleClickModifiers = event->modifiers();
    emit mDClicked();
}

void MouseC::recordWheel(const QWheelEvent *event)
{
    wheelStep = wheelStepOf(event->angleDelta().y());
    wheelFactor = wheelStep >= 0.0 ? 1.0 / 1.1 : 1.1;
    wheelSet = true;
    emit wMoved(Numbers::saturateToInt(wheelStep));
}

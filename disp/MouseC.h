#pragma once

#include <QObject>
#include <QPoint>

class QMouseEvent;
class QWheelEvent;

// The state of the mouse over one drawing area, recorded from its widget events,
// and the classification of a press by button and modifier keys.
class MouseC : public QObject
{
    Q_OBJECT
public:
    // Fixed values: other panels receive them with point selections and compare
    // them with numbers. Right-button states are the left ones plus 8.
    enum MStat : int {
        Left = 0,
        LeftShift = 1,
        LeftCtrl = 2,
        LeftAlt = 3,
        LeftShiftCtrl = 4,
        LeftShiftAlt = 5,
        LeftCtrlAlt = 6,
        LeftShiftCtrlAlt = 7,
        Right = 8,
        RightShift = 9,
        RightCtrl = 10,
        RightAlt = 11,
        RightShiftCtrl = 12,
        RightShiftAlt = 13,
        RightCtrlAlt = 14,
        RightShiftCtrlAlt = 15,
        OtherButton = 16
    };
    Q_ENUM(MStat)

    explicit MouseC(QObject *parent = nullptr);

    static MStat classify(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    MStat pressState() const { return classify(pressButton, pressModifiers); }

    void recordMove(const QMouseEvent *event);
    void recordPress(const QMouseEvent *event);
    void recordRelease(const QMouseEvent *event);
    void recordDoubleClick(const QMouseEvent *event);
    void recordWheel(const QWheelEvent *event);
    // Notches of a vertical wheel delta in eighths of a degree (15 degrees a notch).
    static double wheelStepOf(int angleDeltaY) { return angleDeltaY * 0.125 / 15.0; }

    QPoint previous;
    QPoint current;
    QPoint pressPos;
    QPoint releasePos;
    QPoint doubleClickPos;
    bool pressed = false;
    Qt::MouseButton button = Qt::NoButton;
    Qt::MouseButton pressButton = Qt::NoButton;
    Qt::MouseButton releaseButton = Qt::NoButton;
    Qt::MouseButton doubleClickButton = Qt::NoButton;
    Qt::KeyboardModifiers modifiers;
    Qt::KeyboardModifiers pressModifiers;
    Qt::KeyboardModifiers releaseModifiers;
    Qt::KeyboardModifiers doubleClickModifiers;
    bool wheelSet = false;
    double wheelStep = 0.0;
    double wheelFactor = 1.0;

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wMoved(int step);
    void mEntered();
    void mLeaved();
    void mEnterLeave(bool f);

private:
    void takePosition(const QMouseEvent *event);
};

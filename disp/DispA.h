#pragma once

#include "disp/ChCoord.h"
#include "disp/MouseC.h"

#include <QFrame>
#include <QPainter>

// A drawing area that paints only a white background and lets its owners draw
// in three layers (0 first, 2 on top) through the painter it hands out. Mouse
// and wheel events are recorded in its MouseC and forwarded as signals.
class DispA : public QFrame
{
    Q_OBJECT
public:
    explicit DispA(QWidget *parent = nullptr);

    ChCoord *coord() { return &chCoord; }
    MouseC *mouse() { return &mouseC; }
    const ChCoord *coord() const { return &chCoord; }
    const MouseC *mouse() const { return &mouseC; }

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void followWidgetSize();

    ChCoord chCoord;
    MouseC mouseC;
};

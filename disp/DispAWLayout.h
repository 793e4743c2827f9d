#pragma once

#include <QFrame>
#include <QPainter>

class DispA;
class QGridLayout;

namespace Ui {
class DispAWLayout;
}

// A frame holding one drawing area "dispA" in a grid layout; it passes on every
// signal of the drawing area under the same name.
class DispAWLayout : public QFrame
{
    Q_OBJECT
public:
    explicit DispAWLayout(QWidget *parent = nullptr);
    ~DispAWLayout() override;

    DispA *dispA() const;
    QGridLayout *gridLayout() const;

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

private:
    Ui::DispAWLayout *layoutUi;
};

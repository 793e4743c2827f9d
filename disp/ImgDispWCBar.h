#pragma once

#include "disp/ImgDisp.h"

class ColorBar;
class QGridLayout;

namespace Ui {
class ImgDispWCBar;
}

// A picture with its colour bar to the right and the bar's panel in a row below.
class ImgDispWCBar : public ImgDisp
{
    Q_OBJECT
public:
    explicit ImgDispWCBar(QWidget *parent = nullptr);
    ~ImgDispWCBar() override;

    ColorBar *CBar = nullptr;
    // The rows under the picture: the bar's panel sits in row 1, column 0; row 0
    // is free for read-outs.
    QGridLayout *lowerLayout() const { return lowerRow; }

signals:
    void newBar();

private:
    Ui::ImgDispWCBar *barUi;
    QGridLayout *lowerRow;
};

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
    // The row under the picture: the bar's panel sits at column 1.
    QGridLayout *lowerLayout() const { return lowerRow; }

signals:
    void newBar();

private:
    Ui::ImgDispWCBar *barUi;
    QGridLayout *lowerRow;
};

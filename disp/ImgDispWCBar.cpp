#include "ImgDispWCBar.h"

#include "disp/ColorBar.h"
#include "ui_ImgDispWCBar.h"

#include <QGridLayout>

ImgDispWCBar::ImgDispWCBar(QWidget *parent)
    : ImgDisp(parent)
    , barUi(new Ui::ImgDispWCBar)
    , lowerRow(new QGridLayout)
{
    barUi->setupUi(this);
    CBar = barUi->CBar;
    gridLayout()->addWidget(CBar, 0, 1);
    gridLayout()->addLayout(lowerRow, 1, 0, 1, 2);
    // Extra height goes to the picture, not to the row of fields under it.
    gridLayout()->setRowStretch(0, 1);
    lowerRow->addWidget(CBar->panel(), 0, 1);
    connect(CBar, &ColorBar::newBar, this, &ImgDispWCBar::newBar);
}

ImgDispWCBar::~ImgDispWCBar()
{
    delete barUi;
}

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
    // The bar's panel (Fix, Min, Max) has a row of its own under the read-outs, left
    // aligned: beside them both would need more width than two displays side by
    // side have, once every field is wide enough for a whole number.
    lowerRow->addWidget(CBar->panel(), 1, 0, Qt::AlignLeft);
    connect(CBar, &ColorBar::newBar, this, &ImgDispWCBar::newBar);
}

ImgDispWCBar::~ImgDispWCBar()
{
    delete barUi;
}

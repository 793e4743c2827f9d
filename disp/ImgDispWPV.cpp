#include "ImgDispWPV.h"

#include "disp/FieldFit.h"
#include "ui_ImgDispWPV.h"
#include "util/Numbers.h"

#include <QGridLayout>

#include <algorithm>

ImgDispWPV::ImgDispWPV(QWidget *parent)
    : ImgDispWCBar(parent)
    , pvUi(new Ui::ImgDispWPV)
{
    pvUi->setupUi(this);
    lowerLayout()->addWidget(pvUi->PVFrame, 0, 0);
    // The button is kept narrow, but never narrower than its label in the
    // platform's font: a clipped "Scale Reset" reads as a fault.
    QPushButton *reset = pvUi->ResetScale;
    reset->setMaximumWidth(std::max(reset->maximumWidth(), reset->sizeHint().width()));
    for (QLineEdit *field : {pvUi->PosX, pvUi->PosY, pvUi->Val})
        FieldFit::fit(field, FieldFit::numberSample());
    resize(width(), width());
    connect(this, &ImgDisp::newPos, this, &ImgDispWPV::noticedNewPos);
    connect(pvUi->ResetScale, &QPushButton::clicked, this, &ImgDisp::resetScale);
}

ImgDispWPV::~ImgDispWPV()
{
    delete pvUi;
}

void ImgDispWPV::noticedNewPos(int ix, int iy)
{
    pvUi->PosX->setText(Numbers::text(ix));
    pvUi->PosY->setText(Numbers::text(iy));
    emit newPosInvY(ix, iy);
}

void ImgDispWPV::setVal(double v)
{
    pvUi->Val->setText(Numbers::text(v));
}

QString ImgDispWPV::posXText() const
{
    return pvUi->PosX->text();
}

QString ImgDispWPV::posYText() const
{
    return pvUi->PosY->text();
}

QString ImgDispWPV::valText() const
{
    return pvUi->Val->text();
}

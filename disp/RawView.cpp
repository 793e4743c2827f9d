#include "RawView.h"

#include "disp/ChCoord.h"
#include "disp/ColorBar.h"
#include "disp/DispA.h"
#include "disp/ProcCtrl.h"
#include "disp/RawDisp.h"
#include "disp/SeekCtrl.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "util/GreyScale.h"
#include "util/Numbers.h"

#include <QPainter>
#include <vector>

RawView::RawView(RawDisp *display, ProcCtrl *proc, SeekCtrl *seek, ImgDatas *stack, QObject *parent)
    : QObject(parent)
    , rawDisp(display)
    , procCtrl(proc)
    , seekCtrl(seek)
    , imgDatas(stack)
    , cursorPen(QColor(255, 255, 0))
    , slicePen(QColor(255, 232, 232))
    , corPen(QColor(255, 232, 232))
    , selectingPen(QColor(255, 0, 0))
    , regionPen(QColor(232, 255, 0))
{
    // The slice and the CoR line share a colour; the dashes tell them apart.
    corPen.setDashPattern({10, 3, 4, 3});
    connect(rawDisp, &RawDisp::drawImage2, this, &RawView::draw);
    connect(rawDisp, &RawDisp::newPosInvY, this, &RawView::newPosOnRawImg);
    connect(rawDisp, &RawDisp::newBar, this, &RawView::updateRawImage);
    connect(rawDisp, &RawDisp::selectedAPoint, this, &RawView::selectedAPointInRawImg);
    connect(seekCtrl, &SeekCtrl::newIndex, this, &RawView::updateRawImage);
    connect(imgDatas, &ImgDatas::imageUpdated, rawDisp, qOverload<>(&QWidget::update));
    for (auto signal : {&ProcCtrl::rotAxUpdated, &ProcCtrl::sliceNoUpdated, &ProcCtrl::corUpdated})
        connect(procCtrl, signal, rawDisp, qOverload<>(&QWidget::update));
}

void RawView::updateRawImage()
{
    const int index = seekCtrl->index();
    if (index >= 0 && index < imgDatas->count()) {
        GreyScale scale = rawDisp->CBar->greyScale();
        const bool fixed = rawDisp->CBar->fixed();
        imgDatas->genImage(index, &rawDisp->image, &scale, fixed);
        if (!fixed) {
            rawDisp->CBar->setMin(scale.min);
            rawDisp->CBar->setMax(scale.max);
        }
        rawDisp->newImage();
    }
    rawDisp->update();
}

void RawView::newPosOnRawImg(double x, double y)
{
    double v = 0.0;
    const int index = seekCtrl->index();
    const int ix = Numbers::saturateToInt(x);
    const int iy = Numbers::saturateToInt(y);
    if (index >= 0 && index < imgDatas->count()) {
        const ImgData *img = imgDatas->frame(index);
        if (img && ix >= 0 && iy >= 0 && ix < img->width && iy < img->height) {
            std::vector<double> line(static_cast<size_t>(img->width));
            v = img->getLine(iy, line.data())[ix];
        }
    }
    rawDisp->setVal(v);
}

void RawView::selectedAPointInRawImg(double x, double y, MouseC::MStat s)
{
    // A plain left drag pans the picture to look at it; only a click picks a slice.
    if (s == MouseC::Left && rawDisp->lastPressDragged())
        return;
    const bool vertical = procCtrl->rotAxIsV();
    if (s == MouseC::Left)
        procCtrl->setSliceNo(Numbers::saturateToInt(vertical ? y : x));
    else if (s == MouseC::Right)
        procCtrl->setCor(vertical ? x : y);
}

void RawView::draw(QPainter *p)
{
    if (imgDatas->count() == 0) {
        drawFirstSteps(p);
        return;
    }
    const ChCoord *c = rawDisp->coord;
    const bool vertical = procCtrl->rotAxIsV();
    const QPoint m = rawDisp->mouse->current;
    p->setPen(cursorPen);
    p->drawLine(QPointF(m.x(), c->SY0), QPointF(m.x(), c->SY1));
    p->drawLine(QPointF(c->SX0, m.y()), QPointF(c->SX1, m.y()));

    const double slice = procCtrl->sliceNo();
    const double cor = procCtrl->cor();
    p->setPen(slicePen);
    if (vertical) {
        const double y = c->realToScreenY(slice);
        p->drawLine(QPointF(c->SX0, y), QPointF(c->SX1, y));
    } else {
        const double x = c->realToScreenX(slice);
        p->drawLine(QPointF(x, c->SY0), QPointF(x, c->SY1));
    }
    p->setPen(corPen);
    if (vertical) {
        const double x = c->realToScreenX(cor);
        p->drawLine(QPointF(x, c->SY0), QPointF(x, c->SY1));
    } else {
        const double y = c->realToScreenY(cor);
        p->drawLine(QPointF(c->SX0, y), QPointF(c->SX1, y));
    }

    if (!rawDisp->selecting && !rawDisp->selectionValid)
        return;
    const QRectF rect(c->realToScreenX(rawDisp->selX), c->realToScreenY(rawDisp->selY),
                      c->realLengthToScreenX(rawDisp->selW), c->realLengthToScreenY(rawDisp->selH));
    if (rawDisp->selecting) {
        p->setPen(selectingPen);
        p->drawRect(rect);
        return;
    }
    p->setPen(regionPen);
    p->drawRect(rect);
    const double x0 = rawDisp->selX, x1 = rawDisp->selX + rawDisp->selW;
    const double y0 = rawDisp->selY, y1 = rawDisp->selY + rawDisp->selH;
    // The rectangle's extent across the axis is the region, its extent along the
    // axis the slice range.
    if (vertical)
        applySelection(x0, x1, y0, y1);
    else
        applySelection(y0, y1, x0, x1);
}

// An empty window says what to do first, in the order the work goes.
void RawView::drawFirstSteps(QPainter *p)
{
    const QString steps =
        tr("To reconstruct a slice:\n"
           "1. Load the projections: \"Data Select\" under \"Row Images\".\n"
           "2. Choose the I0 and BG images with their \"Select\" buttons.\n"
           "3. Set the centre of rotation: \"Center\", or a right click on the image.\n"
           "4. Press \"Calc\".\n\n"
           "On the image a click picks the slice, a drag moves the picture, the wheel zooms\n"
           "and Shift+drag selects a region.");
    const QRect area = QRect(0, 0, rawDisp->dispA()->width(), rawDisp->dispA()->height())
                           .adjusted(16, 16, -16, -16);
    const int flags = Qt::AlignLeft | Qt::TextWordWrap;
    QRect block = p->fontMetrics().boundingRect(area, flags, steps);
    block.moveCenter(area.center());
    p->setPen(QColor(64, 64, 64));
    p->drawText(block, flags, steps);
}

void RawView::applySelection(double across0, double across1, double along0, double along1)
{
    if (regionSelected)
        regionSelected(across0, across0, across1, across1);
    procCtrl->setSliceFrom(Numbers::saturateToInt(along0));
    procCtrl->setSliceTo(Numbers::saturateToInt(along1));
}

void RawView::showDispRaw()
{
    rawDisp->setVisible(!rawDisp->isVisible());
}

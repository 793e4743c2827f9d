#include "ColorBar.h"

#include "disp/FieldFit.h"
#include "ui_CBarUI.h"
#include "util/Numbers.h"

#include <QFrame>
#include <QGridLayout>
#include <QPainter>

#include <cmath>

ColorBar::ColorBar(QWidget *parent)
    : DispA(parent)
    , draggedHandle(&scale.lo)
    , panelFrame(new QFrame)
    , barUi(new Ui::CBarUI)
{
    barUi->setupUi(panelFrame);
    // The form keeps its fields at a designer position; inside a display's row
    // the panel should follow its layout instead.
    auto *panelLayout = new QGridLayout(panelFrame);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->addWidget(barUi->CBarUIBase, 0, 0);

    for (QLineEdit *field : {barUi->CMinLE, barUi->CMaxLE})
        FieldFit::fit(field, FieldFit::numberSample());
    connect(barUi->CMinLE, &QLineEdit::editingFinished, this, &ColorBar::minVEdited);
    connect(barUi->CMaxLE, &QLineEdit::editingFinished, this, &ColorBar::maxVEdited);
    connect(this, &DispA::drawImage1, this, &ColorBar::draw1);
    connect(this, &DispA::mouseMoved0, this, &ColorBar::onMouseMoved);
    connect(this, &DispA::mousePressed0, this, &ColorBar::onMousePressed);
    connect(this, &DispA::mouseReleased0, this, &ColorBar::onMouseReleased);
    setMin(0.0);
    setMax(1.0);
    scale.lo = 0.0;
    scale.hi = 1.0;
}

ColorBar::~ColorBar()
{
    // The panel belongs to whichever display placed it; a bar used alone keeps it.
    if (panelFrame && !panelFrame->parent())
        delete panelFrame;
    delete barUi;
}

// The labels on the bar are drawn from min and max: every change repaints the
// bar, whoever makes it, or the labels keep the old range until the next paint.
void ColorBar::setMin(double v)
{
    scale.min = v;
    barUi->CMinLE->setText(Numbers::text(v));
    update();
}

void ColorBar::setMax(double v)
{
    scale.max = v;
    barUi->CMaxLE->setText(Numbers::text(v));
    update();
}

bool ColorBar::fixed() const
{
    return barUi->CFix->isChecked();
}

void ColorBar::setFixColorScale(bool f)
{
    barUi->CFix->setChecked(f);
}

// A producer rebuilding its picture sets min and max to its data unless the bar is
// fixed, which would silently undo what the user just typed: typing fixes the bar.
void ColorBar::fixWhenTyped(QLineEdit *field)
{
    if (field->isModified() && !fixed())
        setFixColorScale(true);
}

void ColorBar::minVEdited()
{
    fixWhenTyped(barUi->CMinLE);
    setMin(Numbers::toFiniteDouble(barUi->CMinLE->text()));
    emit newBar();
}

void ColorBar::maxVEdited()
{
    fixWhenTyped(barUi->CMaxLE);
    setMax(Numbers::toFiniteDouble(barUi->CMaxLE->text()));
    emit newBar();
}

void ColorBar::draw1(QPainter *p)
{
    const int w = width();
    const int h = height();
    for (int i = 0; i < h; ++i) {
        const int g = scale.greyOfFraction(double(i) / h);
        p->setPen(QColor(g, g, g));
        p->drawLine(0, h - 1 - i, w, h - 1 - i);
    }
    p->setPen(QColor(0, 192, 255));
    const int hiY = Numbers::saturateToInt((1.0 - scale.hi) * h);
    const int loY = Numbers::saturateToInt((1.0 - scale.lo) * h);
    p->drawLine(0, hiY, w, hiY);
    p->drawLine(0, loY, w, loY);

    p->setPen(QColor(0, 255, 192));
    const QFont font;
    const Qt::Alignment maxAlign = Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment rightAlign = Qt::AlignRight | Qt::AlignVCenter;
    textDrawer.rotatedText(p, 90, w / 2, 50, 95, w, font, maxAlign, 1, Numbers::text(scale.max),
                           10);
    textDrawer.rotatedText(p, 90, w / 2, h - 50, 95, w, font, rightAlign, 1,
                           Numbers::text(scale.min), 10);
    if (dragging && draggedHandle) {
        const double value = scale.min + (scale.max - scale.min) * *draggedHandle;
        textDrawer.rotatedText(p, 90, w / 2, h / 2, 95, w, font, rightAlign, 1,
                               Numbers::text(value), 10);
    }
}

double ColorBar::fractionAtMouse() const
{
    const double h = height();
    return (h - mouse()->current.y()) / h;
}

void ColorBar::onMousePressed()
{
    if (height() < 1)
        return;
    const double f = fractionAtMouse();
    const double toLo = std::fabs(scale.lo - f);
    const double toHi = std::fabs(scale.hi - f);
    if (toLo > toHi) {
        dragging = true;
        draggedHandle = &scale.hi;
    } else if (toLo < toHi) {
        dragging = true;
        draggedHandle = &scale.lo;
    }
}

void ColorBar::onMouseMoved()
{
    if (!mouse()->pressed)
        return;
    if (dragging && draggedHandle && height() >= 1)
        *draggedHandle = fractionAtMouse();
    update();
    emit newBar();
}

void ColorBar::onMouseReleased()
{
    dragging = false;
}

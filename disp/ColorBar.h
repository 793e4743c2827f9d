#pragma once

#include "disp/DispA.h"
#include "disp/DrawText.h"
#include "util/GreyScale.h"

#include <QPointer>

class QFrame;
class QLineEdit;

namespace Ui {
class CBarUI;
}

// The grey scale of a picture: a vertical ramp with the data range written on
// it and two handles that narrow the contrast window, plus a small panel
// ("Fix", Min, Max) that the owning display places under the picture. Every
// producer of a picture asks its bar for the grey level of each value and
// rebuilds the picture when the bar emits newBar().
class ColorBar : public DispA
{
    Q_OBJECT
public:
    explicit ColorBar(QWidget *parent = nullptr);
    ~ColorBar() override;

    int grey(double v) const { return scale.grey(v); }
    int greyOfFraction(double f) const { return scale.greyOfFraction(f); }
    // A copy of the mapping, for producers that build pictures away from the widget.
    GreyScale greyScale() const { return scale; }

    double min() const { return scale.min; }
    double max() const { return scale.max; }
    double lo() const { return scale.lo; }
    double hi() const { return scale.hi; }
    // Neither emits newBar(); the bar repaints its labels.
    void setMin(double v);
    void setMax(double v);
    bool fixed() const;
    bool isDragging() const { return dragging; }
    QFrame *panel() const { return panelFrame; }

signals:
    void newBar();

public slots:
    void draw1(QPainter *p);
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void minVEdited();
    void maxVEdited();
    void setFixColorScale(bool f);

private:
    double fractionAtMouse() const;
    void fixWhenTyped(QLineEdit *field);

    GreyScale scale;
    bool dragging = false;
    double *draggedHandle = nullptr;
    DrawText textDrawer;
    QPointer<QFrame> panelFrame;
    Ui::CBarUI *barUi;
};

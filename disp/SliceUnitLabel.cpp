#include "SliceUnitLabel.h"

#include <QCoreApplication>
#include <QList>

namespace {

QList<SliceUnitLabel *> &shown()
{
    static QList<SliceUnitLabel *> labels;
    return labels;
}

double &pixelSize()
{
    static double micrometres = 0.0;
    return micrometres;
}

} // namespace

SliceUnitLabel::SliceUnitLabel(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("SliceUnit"));
    setWordWrap(true);
    setText(textFor(pixelSize()));
    shown().append(this);
}

SliceUnitLabel::~SliceUnitLabel()
{
    shown().removeAll(this);
}

QString SliceUnitLabel::textFor(double micrometres)
{
    // The tabs' texts keep the main window's translation context.
    QString text = QCoreApplication::translate(
        "Body", "Values: the sum over the projections; ÷ 2P = µ per pixel");
    if (micrometres > 0.0)
        text += QCoreApplication::translate("Body", "; ÷ 2P ÷ %1 cm (pixel %2 µm) = µ in 1/cm")
                    .arg(QString::number(micrometres * 1e-4, 'g', 6),
                         QString::number(micrometres, 'g', 6));
    return text;
}

void SliceUnitLabel::setPixelSize(double micrometres)
{
    pixelSize() = micrometres > 0.0 ? micrometres : 0.0;
    for (SliceUnitLabel *label : shown())
        label->setText(textFor(pixelSize()));
}

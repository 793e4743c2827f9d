#include "DrawText.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

DrawText::DrawText(QObject *parent)
    : QObject(parent)
{
}

QRectF DrawText::measureAt10(QPainter *p, const QFont &font, Qt::Alignment align,
                             const QString &text)
{
    const QFont saved = p->font();
    QFont at10 = font;
    at10.setPointSizeF(10.0);
    p->setFont(at10);
    const QRectF measured = p->boundingRect(QRectF(0, 0, 5000, 5000), int(align), text);
    p->setFont(saved);
    return measured;
}

double DrawText::fittedPointSize(QPainter *p, const QSizeF &box, const QFont &font,
                                 Qt::Alignment align, const QString &text, double maxPointSize)
{
    const QRectF measured = measureAt10(p, font, align, text);
    const double rx = measured.width() != 0.0 ? box.width() / measured.width() : 1.0;
    const double ry = measured.height() != 0.0 ? box.height() / measured.height() : 1.0;
    double size = 10.0 * std::min(rx, ry);
    if (maxPointSize > 0.0 && maxPointSize < size)
        size = maxPointSize;
    return size;
}

QRectF DrawText::rotatedBox(double angle, double x, double y, double w, double h)
{
    const double a = -angle * 3.141592653 / 180.0;
    return QRectF(x * std::cos(a) - y * std::sin(a) - w / 2.0,
                  x * std::sin(a) + y * std::cos(a) - h / 2.0, w, h);
}

QRectF DrawText::rotatedText(QPainter *p, double angle, double x, double y, double w, double h,
                             const QFont &font, Qt::Alignment align, int fit, const QString &text,
                             double maxPointSize, bool fillBackground, const QColor &background)
{
    const QRectF measured = measureAt10(p, font, align, text);
    w = std::fabs(w);
    h = std::fabs(h);
    const QRectF box = rotatedBox(angle, x, y, w, h);
    p->rotate(angle);
    QFont used = font;
    if (fit == 1) {
        const double size = fittedPointSize(p, box.size(), font, align, text, maxPointSize);
        // A point size must be positive; an empty box draws nothing visible anyway.
        if (size > 0.0 && std::isfinite(size))
            used.setPointSizeF(size);
    }
    p->setFont(used);
    if (fillBackground)
        p->fillRect(box, background);
    p->drawText(box, int(align), text);
    p->setFont(font);
    p->rotate(-angle);
    return measured;
}

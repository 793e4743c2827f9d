#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPainter>
#include <QRectF>

// Draws a text fitted into a box, optionally rotated about the box's centre.
class DrawText : public QObject
{
    Q_OBJECT
public:
    explicit DrawText(QObject *parent = nullptr);

    // The point size that fits the text into a box of the given size: the text is
    // measured at 10 points and scaled by the tighter axis; a cap above 0 limits it.
    static double fittedPointSize(QPainter *p, const QSizeF &box, const QFont &font,
                                  Qt::Alignment align, const QString &text, double maxPointSize);
    // (x, y) is the centre of the box, w its length along the text and h its
    // height. Returns the text's bounding rectangle measured at 10 points.
    QRectF rotatedText(QPainter *p, double angle, double x, double y, double w, double h,
                       const QFont &font, Qt::Alignment align, int fit, const QString &text,
                       double maxPointSize = 0.0, bool fillBackground = false,
                       const QColor &background = Qt::white);
    // The rectangle in rotated painter coordinates whose centre lands on (x, y)
    // after the painter is rotated by angle degrees.
    static QRectF rotatedBox(double angle, double x, double y, double w, double h);

private:
    static QRectF measureAt10(QPainter *p, const QFont &font, Qt::Alignment align,
                              const QString &text);
};

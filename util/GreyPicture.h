#pragma once

#include "util/GreyScale.h"

#include <QImage>

// Values as an 8-bit grey picture (QImage::Format_Grayscale8), one byte per value by
// the GreyScale rule: every display and every saved PNG is drawn this way, so a
// picture on screen and its file agree pixel for pixel.
namespace GreyPicture {

// The grey levels of `count` values (double or float) into `line`.
template<typename Value>
void fillLine(uchar *line, const Value *values, int count, const GreyScale &scale)
{
    for (int x = 0; x < count; ++x)
        line[x] = static_cast<uchar>(scale.grey(values[x]));
}

// Paints a width x height block into `picture` with its corner at column x0, row z0;
// rowOf(z) gives the block's row z. The picture is Format_Grayscale8 and holds the block.
template<typename RowOf>
void paint(QImage *picture, int x0, int z0, int width, int height, const GreyScale &scale,
           RowOf rowOf)
{
    for (int z = 0; z < height; ++z)
        fillLine(picture->scanLine(z0 + z) + x0, rowOf(z), width, scale);
}

// A new width x height picture of the values; null when it can not be allocated.
template<typename RowOf>
QImage of(int width, int height, const GreyScale &scale, RowOf rowOf)
{
    QImage picture(width, height, QImage::Format_Grayscale8);
    if (!picture.isNull())
        paint(&picture, 0, 0, width, height, scale, rowOf);
    return picture;
}

} // namespace GreyPicture

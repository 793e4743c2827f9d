#include "HSgm.h"

#include "SgmGeom.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"

#include <QDebug>
#include <QString>

#include <cmath>

namespace {

// The detector line of `slice` in an image, into buf (of the line's length).
void readLine(const ImgData &img, bool rotAxIsV, int slice, double *buf)
{
    if (rotAxIsV)
        img.getLine(slice, buf);
    else
        img.getColumn(slice, buf);
}

// I0 or BG of another size would be read past its rows; treating it as absent
// would give wrong attenuation values, so the sinogram is refused instead.
bool sizeMatches(const ImgData *img, const ImgDatas &stack, const char *what)
{
    if (!img || (img->width == stack.width() && img->height == stack.height()))
        return true;
    qDebug() << what
             << QStringLiteral(": (%1, %2) != (%3, %4) : ")
                    .arg(stack.width())
                    .arg(stack.height())
                    .arg(img->width)
                    .arg(img->height)
             << img->fileName;
    return false;
}

} // namespace

void HSgm::resize(int w, int h)
{
    sgm.clear();
    sgmSingle.clear();
    raw.clear();
    width = w;
    height = h;
    // The samples of the other kind are let go; those of this kind keep their room.
    if (singleSamples)
        sgm = {};
    else
        sgmSingle = {};
    if (w > 0 && h > 0) {
        const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
        if (singleSamples)
            sgmSingle.assign(n, 0.0f);
        else
            sgm.assign(n, 0.0);
        if (keepRaw)
            raw.assign(n, 0.0);
    }
}

bool genSinogram0(HSgm *hSgm, const ImgDatas &stack, bool rotAxIsV, double cor, int slice,
                  int fixedHalfWidth, bool sharp)
{
    hSgm->resize(0, 0);
    const int len = rotAxIsV ? stack.width() : stack.height();
    const int lines = rotAxIsV ? stack.height() : stack.width();
    if (!std::isfinite(cor) || std::floor(cor) <= 0.0 || std::ceil(cor) >= len)
        return false;
    if (slice < 0 || slice >= lines)
        return false;
    SgmGeom g = setGeom(rotAxIsV, len, cor, fixedHalfWidth);
    g.sharp = sharp;
    const int P = stack.count();
    if (g.width < 3 || P < 1)
        return false;
    const ImgData *i0 = stack.i0Image();
    const ImgData *bg = stack.bgImage();
    if (!sizeMatches(i0, stack, "Mismatch I0 image size") ||
        !sizeMatches(bg, stack, "Mismatch BG image size"))
        return false;

    hSgm->slice = slice;
    hSgm->resize(g.width, P);
    const size_t W = static_cast<size_t>(g.width);
    std::vector<double> line(static_cast<size_t>(len));
    std::vector<double> i0Row(W, 1.0);
    std::vector<double> bgRow(W, 0.0);
    std::vector<double> rawRow(hSgm->keepRaw ? 0 : W);
    if (i0) {
        readLine(*i0, rotAxIsV, slice, line.data());
        resampleLine(line.data(), i0Row.data(), g);
    }
    if (bg) {
        readLine(*bg, rotAxIsV, slice, line.data());
        resampleLine(line.data(), bgRow.data(), g);
    }
    // The frames of a stack larger than memory are read page by page: asking for
    // this slice's row of every frame at once lets the disk serve them together
    // rather than one page fault after another.
    if (rotAxIsV)
        for (int i = 0; i < P; ++i)
            stack.frame(i)->prefetchLine(slice);
    for (int i = 0; i < P; ++i) {
        readLine(*stack.frame(i), rotAxIsV, slice, line.data());
        double *r = hSgm->keepRaw ? hSgm->raw.data() + i * W : rawRow.data();
        resampleLine(line.data(), r, g);
        if (hSgm->singleSamples) {
            float *s = hSgm->sgmSingle.data() + i * W;
            for (size_t j = 0; j < W; ++j)
                s[j] = static_cast<float>(attenuationOf(i0Row[j], r[j], bgRow[j]));
        } else {
            double *s = hSgm->sgm.data() + i * W;
            for (size_t j = 0; j < W; ++j)
                s[j] = attenuationOf(i0Row[j], r[j], bgRow[j]);
        }
    }
    return true;
}

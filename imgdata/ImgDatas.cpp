#include "ImgDatas.h"

#include "ImgData.h"
#include "PixelBuffer.h"

#include <QDebug>

namespace {

const ImgData *presentImage(ImgData *const *slot)
{
    if (!slot || !*slot || !(*slot)->isOk)
        return nullptr;
    return *slot;
}

} // namespace

ImgDatas::ImgDatas(QObject *parent)
    : QObject(parent)
{
}

ImgDatas::~ImgDatas()
{
    clear();
}

bool ImgDatas::addFile(const QString &fileName)
{
    std::unique_ptr<ImgData> img = ImgData::forFile(fileName);
    if (!img)
        return false;
    img->isOk = img->open();
    if (!img->isOk) {
        qDebug() << "File is not ready to access" << fileName;
        return false;
    }
    return addFrame(std::move(img));
}

bool ImgDatas::addFrame(std::unique_ptr<ImgData> img)
{
    if (!img || !img->isOk)
        return false;
    if (w == 0) {
        w = img->width;
        h = img->height;
    }
    if (w == img->width && h == img->height) {
        imgs.push_back(std::move(img));
        return true;
    }
    qDebug() << "Mismatch image size"
             << QStringLiteral(": (%1, %2) != (%3, %4) : ")
                    .arg(w)
                    .arg(h)
                    .arg(img->width)
                    .arg(img->height)
             << img->fileName;
    return false;
}

bool ImgDatas::genImage(int index, QImage *image, GreyScale *scale, bool scaleFixed)
{
    if (index < 0 || index >= count())
        return false;
    imgs[static_cast<size_t>(index)]->toImage(image, scale, scaleFixed);
    emit imageUpdated();
    return true;
}

const ImgData *ImgDatas::frame(int i) const
{
    if (i < 0 || i >= count())
        return nullptr;
    return imgs[static_cast<size_t>(i)].get();
}

const ImgData *ImgDatas::i0Image() const
{
    return presentImage(i0);
}

const ImgData *ImgDatas::bgImage() const
{
    return presentImage(bg);
}

qint64 ImgDatas::mappedBytes() const
{
    qint64 total = 0;
    for (const auto &img : imgs) {
        const PixelBuffer *pixels = img->pixelBuffer();
        if (pixels && pixels->isFileMapped())
            total += static_cast<qint64>(pixels->size());
    }
    return total;
}

bool ImgDatas::adviseAccess(qint64 memory)
{
    const bool random = memory > 0 && mappedBytes() > memory;
    bool advised = false;
    for (const auto &img : imgs) {
        const PixelBuffer *pixels = img->pixelBuffer();
        if (pixels && pixels->isFileMapped())
            advised = pixels->adviseRandomAccess(random) || advised;
    }
    return random && advised;
}

void ImgDatas::clearImgs()
{
    imgs.clear();
    cutShortReason.clear();
}

void ImgDatas::clear()
{
    clearImgs();
    w = 0;
    h = 0;
}

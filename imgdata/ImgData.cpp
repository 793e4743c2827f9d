#include "ImgData.h"

#include "ImgDataITEX.h"
#include "ImgDataTiff.h"
#include "MemoryBudget.h"
#include "PixelBuffer.h"
#include "util/GreyPicture.h"
#include "util/GreyScale.h"

#include <QDebug>
#include <QFile>
#include <QImage>

#include <cfloat>
#include <new>

namespace {

// The first two bytes of a file; empty when it cannot be opened.
bool firstTwoBytes(const QString &fileName, const char *failText, QByteArray *head)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        qDebug() << failText << fileName;
        return false;
    }
    *head = f.read(2);
    return true;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
bool ImgData::mapFrames = false;
#else
bool ImgData::mapFrames = true;
#endif

ImgData::ImgData() = default;

ImgData::~ImgData() = default;

bool ImgData::open()
{
    // A file decides how much its reader allocates; whatever the checks before
    // each allocation miss, running out of memory ends this file's load, never
    // the program.
    try {
        const bool opened = openFile();
        heldFile.reset();
        return opened;
    } catch (const std::bad_alloc &) {
        qDebug() << "No memory" << fileName;
    }
    heldFile.reset();
    clear();
    isOk = false;
    return false;
}

bool ImgData::allocatePixels(PixelBuffer *buffer, qint64 size, bool populate) const
{
    const PixelBuffer::Result result =
        size > 0 ? buffer->allocate(static_cast<size_t>(size), populate) : PixelBuffer::NoMemory;
    if (result == PixelBuffer::Allocated)
        return true;
    if (result == PixelBuffer::OverBudget)
        qDebug() << "Image exceeds the memory budget" << fileName
                 << QStringLiteral("%1 bytes needed, %2 of %3 bytes in use")
                        .arg(size)
                        .arg(MemoryBudget::used())
                        .arg(MemoryBudget::limit());
    else
        qDebug() << "No memory" << fileName << QStringLiteral("%1 bytes").arg(size);
    return false;
}

bool ImgData::openFile()
{
    isOk = false;
    if (!readProps(fileName, &width, &height))
        return false;
    // Every reader refuses these already; the check keeps the stack's invariant
    // (no empty frame) independent of the reader.
    if (width < 1 || height < 1)
        return false;
    // Readers of the image take a row or a column of doubles at a time: for a
    // one-pixel-wide 8-bit image the column alone is eight times the pixels, so
    // it is held to the budget as well.
    // A trial reservation, given back at once: its refusal is counted as every
    // refusal is, so that a stack loader tells "over budget" from a damaged file.
    const qint64 scratch = (static_cast<qint64>(width) + height) * qint64(sizeof(double));
    if (!MemoryBudget::reserve(scratch)) {
        qDebug() << "Image exceeds the memory budget" << fileName
                 << QStringLiteral("%1 bytes of row and column buffers").arg(scratch);
        return false;
    }
    MemoryBudget::release(scratch);
    minMaxValid = false;
    if (!loadData()) {
        qDebug() << "Can not open ImgData" << fileName;
        return false;
    }
    isOk = true;
    return true;
}

void ImgData::prefetchLine(int y) const
{
    const PixelBuffer *pixels = pixelBuffer();
    if (!pixels || !isOk || y < 0 || y >= height)
        return;
    const size_t row = pixels->size() / static_cast<size_t>(height);
    pixels->prefetch(static_cast<size_t>(y) * row, row);
}

void ImgData::calcMinMax()
{
    min = DBL_MAX;
    max = -DBL_MAX;
    // Only while it runs: a row buffer kept by every frame of a stack of
    // thousands would be more memory than the mapped frames take.
    std::vector<double> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const double *line = getLine(y, row.data());
        for (int x = 0; x < width; ++x) {
            if (line[x] < min)
                min = line[x];
            if (line[x] > max)
                max = line[x];
        }
    }
    minMaxValid = true;
}

void ImgData::getMinMax(double *minOut, double *maxOut)
{
    if (!minMaxValid) {
        if (!isOk) {
            *minOut = 0.0;
            *maxOut = 0.0;
            return;
        }
        calcMinMax();
    }
    *minOut = min;
    *maxOut = max;
}

void ImgData::toImage(QImage *image, GreyScale *scale, bool scaleFixed)
{
    if (!isOk)
        return;
    if (!minMaxValid)
        calcMinMax();
    if (!scaleFixed) {
        scale->min = min;
        scale->max = max;
    }
    std::vector<double> line(static_cast<size_t>(width));
    *image = GreyPicture::of(width, height, *scale, [this, &line](int y) {
        getLine(y, line.data());
        return line.data();
    });
}

bool ImgData::isITEX(const QString &fileName)
{
    QByteArray head;
    if (!firstTwoBytes(fileName, "Check File Type (ITEX):: Can not open", &head))
        return false;
    return head == "IM";
}

bool ImgData::isTIFF(const QString &fileName)
{
    QByteArray head;
    if (!firstTwoBytes(fileName, "Check File Type (TIFF):: Can not open", &head))
        return false;
    return head == "II" || head == "MM";
}

int ImgData::fileType(const QString &fileName)
{
    if (isITEX(fileName))
        return ITEX;
    if (isTIFF(fileName))
        return TIFF;
    qDebug() << "Unknown file type : " << fileName;
    return Unknown;
}

std::unique_ptr<ImgData> ImgData::forFile(const QString &fileName)
{
    // Unbuffered: the header is a few small reads and the pixels go straight
    // from the file into their buffer (or are mapped from it).
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        // The type checks report the failure in their own words.
        fileType(fileName);
        return nullptr;
    }
    char head[2] = {0, 0};
    const bool two = file->read(head, 2) == 2;
    int type = Unknown;
    if (two && head[0] == 'I' && head[1] == 'M')
        type = ITEX;
    else if (two && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')))
        type = TIFF;
    std::unique_ptr<ImgData> img(newImgData(type));
    if (!img) {
        qDebug() << "Unknown file type : " << fileName;
        return nullptr;
    }
    img->fileName = fileName;
    // libtiff opens the file by its name; only the ITEX reader goes on with this one.
    if (type == ITEX)
        img->heldFile = std::move(file);
    return img;
}

ImgData *ImgData::newImgData(int type)
{
    switch (type) {
    case ITEX:
        return new ImgDataITEX;
    case TIFF:
        return new ImgDataTiff;
    default:
        return nullptr;
    }
}

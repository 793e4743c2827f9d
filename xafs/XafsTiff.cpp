#include "XafsTiff.h"

#include "imgdata/TiffSupport.h"
#include "util/SafeFile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

TiffSupport::Handle openTiff(const QString &path, const char *mode)
{
    return TiffSupport::openFile(path, mode);
}

// Size, position and description of the current directory; false when it is not
// a single-sample 32-bit float image stored in strips without compression.
bool readHeader(TIFF *tif, const QString &path, XafsPage *page)
{
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 0, format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (samples != 1 || bits != 32 || format != SAMPLEFORMAT_IEEEFP || TIFFIsTiled(tif) ||
        compression != COMPRESSION_NONE) {
        qDebug() << "Not a float TIFF result" << path;
        return false;
    }
    // Slices are at most a few thousand pixels a side; anything larger is damage.
    if (width == 0 || height == 0 || width > 65536 || height > 65536) {
        qDebug() << "Wrong TIFF image size" << path;
        return false;
    }
    page->width = static_cast<int>(width);
    page->height = static_cast<int>(height);
    float x = 0.0f, y = 0.0f;
    page->x0 = TIFFGetField(tif, TIFFTAG_XPOSITION, &x) ? x : 0.0;
    page->z0 = TIFFGetField(tif, TIFFTAG_YPOSITION, &y) ? y : 0.0;
    char *text = nullptr;
    page->description = TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text
                            ? QString::fromUtf8(text)
                            : QString();
    return true;
}

bool readStrips(TIFF *tif, const QString &path, const XafsPage &page, float *values)
{
    const size_t rowBytes = static_cast<size_t>(page.width) * sizeof(float);
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const uint32_t height = static_cast<uint32_t>(page.height);
    if (rowsPerStrip == 0 || rowsPerStrip > height)
        rowsPerStrip = height;
    char *out = reinterpret_cast<char *>(values);
    for (uint32_t row = 0; row < height; row += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, height - row);
        const tmsize_t want = static_cast<tmsize_t>(rows * rowBytes);
        const tstrip_t strip = TIFFComputeStrip(tif, row, 0);
        if (TIFFReadEncodedStrip(tif, strip, out + row * rowBytes, want) != want) {
            qDebug() << "TIFF file is shorter than its image size" << path;
            return false;
        }
    }
    return true;
}

bool readValues(TIFF *tif, const QString &path, XafsPage *page)
{
    page->values.assign(static_cast<size_t>(page->width) * static_cast<size_t>(page->height), 0.0f);
    if (readStrips(tif, path, *page, page->values.data()))
        return true;
    page->values.clear();
    return false;
}

} // namespace

bool XafsTiff::readPages(const QString &path, std::vector<XafsPage> *pages)
{
    pages->clear();
    TiffSupport::Handle tif = openTiff(path, "r");
    if (!tif) {
        qDebug() << "Can not open TIFF file" << path;
        return false;
    }
    // A header may claim any size, and pages may point at the same strips: together
    // the pages hold no more values than the file has bytes, checked before each is
    // sized.
    const qint64 fileBytes = QFileInfo(path).size();
    qint64 valueBytes = 0;
    try {
        do {
            XafsPage page;
            if (!readHeader(tif.get(), path, &page)) {
                pages->clear();
                return false;
            }
            valueBytes += qint64(page.width) * page.height * qint64(sizeof(float));
            if (valueBytes > fileBytes) {
                qDebug() << "TIFF file is shorter than its image size" << path;
                pages->clear();
                return false;
            }
            if (!readValues(tif.get(), path, &page)) {
                pages->clear();
                return false;
            }
            pages->push_back(std::move(page));
        } while (TIFFReadDirectory(tif.get()));
    } catch (const std::bad_alloc &) {
        pages->clear();
        qDebug() << "XAFS: No memory for the pages of" << path;
        return false;
    }
    return true;
}

bool XafsTiff::readInto(const QString &path, float *values, size_t count, XafsPage *info)
{
    TiffSupport::Handle tif = openTiff(path, "r");
    if (!tif) {
        qDebug() << "Can not open TIFF file" << path;
        return false;
    }
    if (!readHeader(tif.get(), path, info))
        return false;
    if (static_cast<size_t>(info->width) * static_cast<size_t>(info->height) != count) {
        qDebug() << "Wrong TIFF image size" << path;
        return false;
    }
    return readStrips(tif.get(), path, *info, values);
}

bool XafsTiff::readInfo(const QString &path, XafsPage *info)
{
    TiffSupport::Handle tif = openTiff(path, "r");
    if (!tif) {
        qDebug() << "Can not open TIFF file" << path;
        return false;
    }
    return readHeader(tif.get(), path, info);
}

namespace {

// libtiff writes through these procedures into the program's one file writer, so a
// stack gets the same exclusive temporary file, checked writes and rename as every
// other result.
tmsize_t outputRead(thandle_t handle, void *buffer, tmsize_t size)
{
    return static_cast<SafeFile::Output *>(handle)->readBack(buffer, size);
}

tmsize_t outputWrite(thandle_t handle, void *buffer, tmsize_t size)
{
    return static_cast<SafeFile::Output *>(handle)->write(buffer, size) ? size : -1;
}

toff_t outputSeek(thandle_t handle, toff_t offset, int whence)
{
    const qint64 at =
        static_cast<SafeFile::Output *>(handle)->seek(static_cast<qint64>(offset), whence);
    return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}

int outputClose(thandle_t)
{
    return 0;
}

toff_t outputSize(thandle_t handle)
{
    auto *output = static_cast<SafeFile::Output *>(handle);
    const qint64 here = output->seek(0, SEEK_CUR);
    const qint64 end = output->seek(0, SEEK_END);
    output->seek(here, SEEK_SET);
    return end < 0 ? 0 : static_cast<toff_t>(end);
}

int noMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void noUnmap(thandle_t, void *, toff_t) {}

} // namespace

struct XafsTiff::Writer::State
{
    QString path;
    std::unique_ptr<SafeFile::Output> output;
    TiffSupport::Handle tif;
    bool failed = false;
};

XafsTiff::Writer::Writer(const QString &path)
    : state(new State)
{
    state->path = path;
    state->output = std::make_unique<SafeFile::Output>(path);
    if (state->output->ok()) {
        TIFFOpenOptions *options = TiffSupport::newOptions();
        // "w" and the host's byte order, as addPage's raw strips assume.
        state->tif.reset(TIFFClientOpenExt(
            QFile::encodeName(path).constData(), "w", state->output.get(), &outputRead,
            &outputWrite, &outputSeek, &outputClose, &outputSize, &noMap, &noUnmap, options));
        TIFFOpenOptionsFree(options);
    }
    if (!state->tif) {
        qDebug() << "Can not write result file" << path;
        state->failed = true;
    }
}

XafsTiff::Writer::~Writer()
{
    // libtiff is closed before its file goes; the file's own destructor removes the
    // temporary file when it was not committed.
    state->tif.reset();
}

bool XafsTiff::Writer::isOpen() const
{
    return state->tif && !state->failed;
}

bool XafsTiff::Writer::addPage(int width, int height, double x0, double z0,
                               const QString &description, const float *values)
{
    if (!isOpen() || width < 1 || height < 1)
        return false;
    TIFF *tif = state->tif.get();
    const QByteArray text = description.toUtf8();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(1));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(32));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, static_cast<uint16_t>(SAMPLEFORMAT_IEEEFP));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_NONE));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_NONE));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 1.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0f);
    TIFFSetField(tif, TIFFTAG_XPOSITION, static_cast<float>(x0));
    TIFFSetField(tif, TIFFTAG_YPOSITION, static_cast<float>(z0));
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.constData());
    const tmsize_t bytes =
        static_cast<tmsize_t>(width) * height * static_cast<tmsize_t>(sizeof(float));
    // Uncompressed floats in the machine's own byte order (the file is opened in it)
    // are their own encoding: written raw, libtiff copies nothing through its strip
    // buffer. It takes a non-const buffer but only reads it.
    if (TIFFWriteRawStrip(tif, 0, const_cast<float *>(values), bytes) != bytes ||
        !TIFFWriteDirectory(tif)) {
        qDebug() << "Can not write result file" << state->path;
        state->failed = true;
        return false;
    }
    return true;
}

bool XafsTiff::Writer::commit()
{
    if (!state->tif)
        return false;
    // Closing writes the last directory through the file's checked writes.
    state->tif.reset();
    if (state->failed || !state->output->ok()) {
        state->output.reset();
        return false;
    }
    if (!state->output->commit()) {
        qDebug() << "Can not write result file" << state->path;
        return false;
    }
    return true;
}

bool XafsTiff::writePage(const QString &path, const XafsPage &page)
{
    if (page.values.size() != static_cast<size_t>(page.width) * static_cast<size_t>(page.height))
        return false;
    Writer writer(path);
    return writer.addPage(page.width, page.height, page.x0, page.z0, page.description,
                          page.values.data()) &&
           writer.commit();
}

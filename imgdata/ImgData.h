#pragma once

#include <QString>

#include <memory>
#include <vector>

class PixelBuffer;
class QFile;
class QImage;
struct GreyScale;

// One image file (projection, I0 or BG). Pixels leave it as doubles, one row or
// one column at a time, whatever the file stores.
class ImgData
{
public:
    enum FileType { ITEX = 0, TIFF = 1, Unknown = 2 };

    ImgData();
    virtual ~ImgData();
    ImgData(const ImgData &) = delete;
    ImgData &operator=(const ImgData &) = delete;

    virtual void clear() {}
    // Reads the header only: sets *width, *height and the format's own fields.
    virtual bool readProps(const QString &fileName, int *width, int *height) = 0;
    // Reads the pixels into memory; the file is closed again before it returns.
    virtual bool loadData() = 0;
    // Row y into the first `width` elements of buf (zeros for a row outside the image).
    virtual double *getLine(int y, double *buf) const = 0;
    // Column x into the first `height` elements of buf (zeros for a column outside).
    virtual double *getColumn(int x, double *buf) const = 0;
    // The pixels when the reader holds them in a buffer; nullptr otherwise.
    virtual const PixelBuffer *pixelBuffer() const { return nullptr; }
    // Starts reading row y of a frame mapped from its file and advised to be read
    // page by page (ImgDatas::adviseAccess), without waiting; nothing otherwise.
    void prefetchLine(int y) const;

    bool open();
    void calcMinMax();
    void getMinMax(double *minOut, double *maxOut);
    // Renders the image as 8-bit grey through `scale`. Unless the scale is fixed
    // by the user, its range is first set to the image's own min and max.
    void toImage(QImage *image, GreyScale *scale, bool scaleFixed = false);

    // Frames of uncompressed files are mapped read-only from their files rather
    // than copied where the layout allows. Off under AddressSanitizer, whose
    // checks cover heap buffers only, and in tests that compare both ways.
    static bool mapFrames;

    static bool isITEX(const QString &fileName);
    static bool isTIFF(const QString &fileName);
    static int fileType(const QString &fileName);
    // A new reader for a fileType() value, owned by the caller; nullptr for Unknown.
    static ImgData *newImgData(int type);
    // The reader for a file, its type told from the first two bytes of the one
    // opening of the file that the reader then goes on with (header and pixels);
    // nullptr, with the messages of fileType(), when there is none. fileName is set.
    static std::unique_ptr<ImgData> forFile(const QString &fileName);

    bool isOk = false;
    double expTime = 1.0;
    int width = 0;
    int height = 0;
    QString fileName;
    bool minMaxValid = false;
    double min = 0.0;
    double max = 0.0;

protected:
    // The file as forFile() opened it, for the reader to go on with; closed and
    // dropped when open() returns.
    std::unique_ptr<QFile> heldFile;
    // Allocates `size` bytes of pixels for this file; false, with "No memory" or
    // the memory-budget message naming the file and the size, when it cannot.
    bool allocatePixels(PixelBuffer *buffer, qint64 size, bool populate = true) const;

private:
    bool openFile();
};

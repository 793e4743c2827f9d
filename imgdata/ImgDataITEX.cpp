#include "ImgDataITEX.h"

#include "util/Numbers.h"
#include "util/TextLine.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <climits>
#include <new>

namespace {

constexpr qint64 headerSize = 64;

quint32 readLe16(const unsigned char *p)
{
    return static_cast<quint32>(p[0]) | static_cast<quint32>(p[1]) << 8;
}

quint32 readLe32(const unsigned char *p)
{
    return static_cast<quint32>(p[0]) | static_cast<quint32>(p[1]) << 8 |
           static_cast<quint32>(p[2]) << 16 | static_cast<quint32>(p[3]) << 24;
}

// The first value after `key` in an item, or an empty text when the item gives none
// ("Prop_ImageWidth=," must count as not given, not as 0).
QString firstValue(const QString &item, const QString &key)
{
    const QStringList values = itemsAfter(item, key);
    return values.isEmpty() ? QString() : values.first();
}

} // namespace

// What the comment says, collected before anything is stored into the object.
struct ImgDataITEX::Header
{
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    double expTime = 1.0;
    bool areaGiven = false;
    qint64 areaWidth = 0;
    qint64 areaHeight = 0;
};

ImgDataITEX::ImgDataITEX()
{
    clear();
}

void ImgDataITEX::clear()
{
    dataOffset = 0;
    bytesPerPixel = 0;
    pixels.reset();
}

void ImgDataITEX::evaluateItem(const QString &item, Header *header) const
{
    static const QString widthKey = QStringLiteral("Prop_ImageWidth=");
    static const QString heightKey = QStringLiteral("Prop_ImageHeight=");
    static const QString bytesKey = QStringLiteral("BytesPerPixel=");
    static const QString exp1Key = QStringLiteral("Prop_ExposureTime1=");
    static const QString exp2Key = QStringLiteral("Prop_ExposureTime2=");
    static const QString areaKey = QStringLiteral("areSource=");

    if (startsWithKey(item, widthKey)) {
        const QString v = firstValue(item, widthKey);
        if (!v.isEmpty())
            header->width = Numbers::toInt(v);
    }
    if (startsWithKey(item, heightKey)) {
        const QString v = firstValue(item, heightKey);
        if (!v.isEmpty())
            header->height = Numbers::toInt(v);
    }
    if (startsWithKey(item, bytesKey)) {
        const QString v = firstValue(item, bytesKey);
        if (!v.isEmpty())
            header->bytesPerPixel = Numbers::toInt(v);
    }
    for (const QString *key : {&exp1Key, &exp2Key}) {
        if (!startsWithKey(item, *key))
            continue;
        bool ok = false;
        const double t = Numbers::toFiniteDouble(firstValue(item, *key), &ok);
        if (ok)
            header->expTime = t;
    }
    if (startsWithKey(item, areaKey)) {
        // The area is quoted in the file so that its commas do not end the item.
        QString rest = item.mid(areaKey.size());
        rest.replace(QLatin1Char(','), QLatin1Char(' '));
        rest.remove(QLatin1Char('"'));
        QStringList values;
        while (!rest.isEmpty()) {
            QString value;
            rest = takeItem(rest, value);
            if (!value.isEmpty())
                values << value;
        }
        if (values.size() >= 4) {
            qint64 v[4];
            bool all = true;
            for (int i = 0; i < 4; ++i) {
                bool ok = false;
                v[i] = Numbers::toInt(values.at(i), &ok);
                all = all && ok;
            }
            if (all) {
                header->areaGiven = true;
                header->areaWidth = v[2] - v[0];
                header->areaHeight = v[3] - v[1];
            }
        }
    }
}

bool ImgDataITEX::readProps(const QString &name, int *w, int *h)
{
    *w = 0;
    *h = 0;
    dataOffset = 0;
    bytesPerPixel = 0;

    // The file as the type check opened it, or opened here.
    QFile own(name);
    QFile *held =
        heldFile && heldFile->fileName() == name && heldFile->isOpen() ? heldFile.get() : nullptr;
    if (!held && !own.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qDebug() << "Can not open ITEX file to read props." << name;
        return false;
    }
    QFile &f = held ? *held : own;
    const QByteArray head = f.seek(0) ? f.read(10) : QByteArray();
    if (head.size() < 10) {
        qDebug() << "Error on reading ITEX file props." << name;
        return false;
    }
    const qint64 commentLength =
        readLe16(reinterpret_cast<const unsigned char *>(head.constData()) + 2);
    const qint64 fileSize = f.size();
    // The comment is L bytes, decoded only after all of them are in: decoding
    // while reading would let a multi-byte character swallow pixel bytes.
    if (commentLength == 0 || !f.seek(headerSize)) {
        qDebug() << "Error on reading ITEX file props." << name;
        return false;
    }
    const QByteArray commentBytes = f.read(commentLength);
    if (commentBytes.size() < commentLength) {
        qDebug() << "Error on reading ITEX file props." << name;
        return false;
    }

    Header header;
    const QString comment = QString::fromUtf8(commentBytes);
    QString item;
    bool inQuotes = false;
    for (const QChar c : comment) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            item += c;
        } else if (c == QLatin1Char(',') && !inQuotes) {
            evaluateItem(item, &header);
            item.clear();
        } else {
            item += c;
        }
    }
    // Text after the last comma is not an item of the header.

    qint64 width = header.width;
    qint64 height = header.height;
    if (width < 1 && header.areaGiven)
        width = header.areaWidth;
    if (height < 1 && header.areaGiven)
        height = header.areaHeight;
    if (width < 1 || height < 1 || width > INT_MAX || height > INT_MAX) {
        qDebug() << "Error on reading ITEX file props." << name;
        return false;
    }
    if (header.bytesPerPixel != 2 && header.bytesPerPixel != 4) {
        qDebug() << "Wrong BytesPerPixel in ITEX file" << name;
        return false;
    }
    const qint64 offset = headerSize + commentLength;
    // Compared by division so that no product of the header's numbers can overflow.
    const qint64 available = (fileSize - offset) / header.bytesPerPixel;
    if (fileSize < offset || width * height > available) {
        qDebug() << "ITEX file is shorter than its image size" << name;
        return false;
    }

    *w = static_cast<int>(width);
    *h = static_cast<int>(height);
    dataOffset = offset;
    bytesPerPixel = header.bytesPerPixel;
    expTime = header.expTime;
    return true;
}

bool ImgDataITEX::loadData()
{
    pixels.reset();
    if (width < 1 || height < 1 || (bytesPerPixel != 2 && bytesPerPixel != 4))
        return false;
    QFile own(fileName);
    QFile *held = heldFile && heldFile->fileName() == fileName && heldFile->isOpen()
                      ? heldFile.get()
                      : nullptr;
    // Unbuffered: the pixels go straight from the file into their array.
    if (!held && !own.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qDebug() << "Can not open ITEX file" << fileName;
        return false;
    }
    QFile &f = held ? *held : own;
    const qint64 size = static_cast<qint64>(width) * height * bytesPerPixel;
    // The file may have changed since its header was read: its size now decides.
    if (f.size() - dataOffset < size) {
        qDebug() << "ITEX file is shorter than its image size" << fileName;
        return false;
    }
    // The pixels are little-endian integers read byte by byte, so the mapped
    // bytes serve as they are on any machine. A file cut short later, while the
    // frame is in use, is beyond what a check here can see.
    if (mapFrames && pixels.mapFile(f.handle(), dataOffset, static_cast<size_t>(size)))
        return true;
    if (!allocatePixels(&pixels, size))
        return false;
    const qint64 got =
        f.seek(dataOffset) ? f.read(reinterpret_cast<char *>(pixels.data()), size) : -1;
    if (got != size) {
        qDebug() << "ITEX file is shorter than its image size" << fileName;
        pixels.reset();
        return false;
    }
    return true;
}

double ImgDataITEX::pixelAt(qint64 index) const
{
    const unsigned char *p = pixels.data() + index * bytesPerPixel;
    return bytesPerPixel == 2 ? static_cast<double>(readLe16(p)) : static_cast<double>(readLe32(p));
}

double *ImgDataITEX::getLine(int y, double *buf) const
{
    if (y < 0 || y >= height || !pixels) {
        std::fill(buf, buf + width, 0.0);
        return buf;
    }
    const unsigned char *p = pixels.data() + static_cast<qint64>(y) * width * bytesPerPixel;
    if (bytesPerPixel == 2) {
        for (int x = 0; x < width; ++x, p += 2)
            buf[x] = static_cast<double>(readLe16(p));
    } else {
        for (int x = 0; x < width; ++x, p += 4)
            buf[x] = static_cast<double>(readLe32(p));
    }
    return buf;
}

double *ImgDataITEX::getColumn(int x, double *buf) const
{
    if (x < 0 || x >= width || !pixels) {
        std::fill(buf, buf + height, 0.0);
        return buf;
    }
    for (int y = 0; y < height; ++y)
        buf[y] = pixelAt(static_cast<qint64>(y) * width + x);
    return buf;
}

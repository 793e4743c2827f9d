#include "ItexWriter.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

#include <cstdio>

namespace ItexWriter {

QByteArray comment(int width, int height)
{
    return QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,"
                          "Prop_ExposureTime1=1,areSource=\"0,0,%1,%2\",")
        .arg(width)
        .arg(height)
        .toLatin1();
}

bool write(const QString &filePath, int width, int height, const std::vector<quint16> &pixels,
           Commit commit)
{
    if (width < 1 || height < 1 || width > 65535 || height > 65535 ||
        pixels.size() != size_t(width) * size_t(height)) {
        qDebug() << "Wrong ITEX image size" << width << height << filePath;
        return false;
    }
    const QByteArray text = comment(width, height);
    QByteArray bytes(64, '\0');
    bytes[0] = 'I';
    bytes[1] = 'M';
    qToLittleEndian<quint16>(quint16(text.size()), bytes.data() + 2);
    qToLittleEndian<quint16>(quint16(width), bytes.data() + 4);
    qToLittleEndian<quint16>(quint16(height), bytes.data() + 6);
    // Bytes 8-11 are the image offset (0, 0); byte 12 is the camera's code for 16 bits.
    qToLittleEndian<quint16>(2, bytes.data() + 12);
    bytes += text;
    const qsizetype pixelStart = bytes.size();
    bytes.resize(pixelStart + qsizetype(pixels.size()) * 2);
    qToLittleEndian<quint16>(pixels.data(), qsizetype(pixels.size()), bytes.data() + pixelStart);

    if (commit == Commit::Renamed) {
        const QString part = filePath + QStringLiteral(".part");
        QFile file(part);
        bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                       file.write(bytes) == bytes.size();
        file.close();
        written = written && file.error() == QFile::NoError;
        // rename(2) replaces a file of that name in one step.
        if (written && std::rename(QFile::encodeName(part).constData(),
                                   QFile::encodeName(filePath).constData()) == 0)
            return true;
        QFile::remove(part);
        qDebug() << "Can not write ITEX file" << filePath;
        return false;
    }
    QSaveFile file(filePath);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    qDebug() << "Can not write ITEX file" << filePath;
    return false;
}

} // namespace ItexWriter

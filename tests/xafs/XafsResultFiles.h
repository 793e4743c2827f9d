#pragma once

// Result files as the reconstruction writes them (float TIFF per slice and the run
// record of each energy), of a small phantom whose spectra are known in closed form.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <tiffio.h>

#include <vector>

namespace XafsResultFiles {

// A result TIFF as the reconstruction writes it: one strip per row, region corner
// in X/YPosition, the slice's JSON in ImageDescription.
inline bool writeResultTiff(const QString &path, int x0, int z0, int w, int h,
                            const QJsonObject &meta, const std::vector<float> &values)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const QByteArray text = QJsonDocument(meta).toJson(QJsonDocument::Compact);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(32));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, uint16_t(SAMPLEFORMAT_IEEEFP));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(1));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_NONE));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 1.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0f);
    TIFFSetField(tif, TIFFTAG_XPOSITION, float(x0));
    TIFFSetField(tif, TIFFTAG_YPOSITION, float(z0));
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.constData());
    bool ok = true;
    for (int z = 0; z < h; ++z)
        ok = ok && TIFFWriteScanline(tif, const_cast<float *>(&values[size_t(z) * w]), z, 0) == 1;
    TIFFClose(tif);
    return ok;
}

// µ of a phantom slice at an energy: a background B plus, in a disc, an absorber whose
// µ steps by A(x, z) between 7115 and 7120 eV (flat before and after).
struct Phantom
{
    static double step(double e) { return e >= 7120.0 ? 1.0 : 0.0; }
    static double absorber(int x, int z) { return 0.01 + 0.001 * x + 0.0005 * z; }
    static double background(int x, int z) { return 0.02 + 0.0002 * (x + z); }
    static double mu(int x, int z, double e) { return background(x, z) + absorber(x, z) * step(e); }
};

struct ResultWriter
{
    QString folder;
    QString name = QStringLiteral("smp");
    int projections = 90;
    int n = 64;

    static QString tagOf(double e) { return QStringLiteral("%1_0eV").arg(int(e)); }

    // Writes slice `slice` at energy e into resultFolder and (re)writes the record.
    bool write(const QString &resultFolder, const QString &recordFolder, double e,
               const QList<int> &slices, int x0 = 4, int z0 = 6, int w = 20, int h = 12)
    {
        QDir().mkpath(resultFolder);
        QDir().mkpath(recordFolder);
        const QString tag = tagOf(e);
        QJsonArray sliceList;
        for (int slice : slices) {
            std::vector<float> v(size_t(w) * h);
            for (int z = 0; z < h; ++z)
                for (int x = 0; x < w; ++x)
                    v[size_t(z) * w + x] = float(Phantom::mu(x0 + x, z0 + z, e) * 2 * projections);
            QJsonObject meta{{"orvo2", "ct-slice"},
                             {"x0", x0},
                             {"z0", z0},
                             {"x1", x0 + w},
                             {"z1", z0 + h},
                             {"n", n},
                             {"projections", projections},
                             {"slice", slice},
                             {"tag", tag},
                             {"energy_eV", e},
                             {"cor", 31.5},
                             {"filter", "ramp"},
                             {"padded", 0},
                             {"ring_removal", 0},
                             {"scale", "value / (2P) = attenuation per pixel"}};
            const QString file =
                QStringLiteral("%1-%2-%3.tif").arg(name, tag).arg(slice, 5, 10, QLatin1Char('0'));
            if (!writeResultTiff(QDir(resultFolder).filePath(file), x0, z0, w, h, meta, v))
                return false;
            sliceList.append(QJsonObject{{"slice", slice}, {"files", QJsonArray{file}}});
        }
        QJsonObject record{{"program", "Orvo2"},
                           {"data_name", name},
                           {"tag", tag},
                           {"energy_text", tag},
                           {"energy_eV", e},
                           {"cor", 31.5},
                           {"n", n},
                           {"projections", projections},
                           {"region", QJsonArray{x0, z0, x0 + w, z0 + h}},
                           {"filter", "ramp"},
                           {"padded", 0},
                           {"ring_removal", 0},
                           {"scale", "value / (2P) = attenuation per pixel"},
                           {"slices", sliceList},
                           {"failures", QJsonArray()}};
        QFile f(QDir(recordFolder).filePath(QStringLiteral("%1-%2.json").arg(name, tag)));
        return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(record).toJson()) > 0;
    }
};

} // namespace XafsResultFiles

// The XAFS build's readers: the float-TIFF results and the run records of a
// sequential run, on a results folder written from the input and then built. Each
// input describes two to four energies, each with its run record and one or two
// slices. A slice or a record is either made by the program's own writers from
// fields the input chooses (sizes, positions, N, energies and values, now and then
// far out of range or not a number), so that the build's checks of what it read are
// reached, or is the input's bytes as they are, so that the parsers are.
#include "FuzzInput.h"
#include "ct/FloatTiff.h"
#include "ct/ResultLayout.h"
#include "ct/RunRecord.h"
#include "imgdata/MemoryBudget.h"
#include "util/Numbers.h"
#include "xafs/XafsBuilder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include <unistd.h>

namespace {

// The input's bytes, and values of a result drawn from them.
class Bytes : public FuzzInput::Bytes
{
public:
    using FuzzInput::Bytes::Bytes;
    // A value near `usual`, or now and then one no result holds.
    double number(double usual, double spread)
    {
        const unsigned b = next();
        switch (b) {
        case 255:
            return std::numeric_limits<double>::quiet_NaN();
        case 254:
            return std::numeric_limits<double>::infinity();
        case 253:
            return 3e9;
        case 252:
            return -usual - 5.0;
        case 251:
            return 1e300;
        case 0:
            // Bytes past the input's end: a short input still describes a result
            // the build reads through.
            return usual;
        default:
            return usual + spread * (double(b) / 125.0 - 1.0);
        }
    }
};

QString folder()
{
    static const QString path =
        QStringLiteral("%1/orvo2-fuzz-xafs-%2").arg(FuzzInput::folder()).arg(getpid());
    static const bool removedAtExit = [] {
        std::atexit([] { QDir(path).removeRecursively(); });
        return true;
    }();
    (void)removedAtExit;
    return path;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray sliceFile(Bytes &in, const QString &tag, int slice)
{
    if (in.next() % 4 == 3)
        return in.take(in.next() * 64 + in.next());
    FloatTiff tiff;
    tiff.width = 1 + int(in.next() % 12);
    tiff.height = 1 + int(in.next() % 12);
    tiff.xPosition = in.number(4.0, 6.0);
    tiff.yPosition = in.number(4.0, 6.0);
    SliceInfo info;
    info.x0 = tiff.xPosition;
    info.z0 = tiff.yPosition;
    info.x1 = info.x0 + tiff.width;
    info.z1 = info.z0 + tiff.height;
    info.n = Numbers::saturateToInt(in.number(24.0, 20.0));
    info.projections = int(in.next());
    info.slice = slice;
    info.tag = tag;
    info.cor = in.number(12.0, 10.0);
    tiff.description = info.description();
    if (in.next() % 8 == 0)
        tiff.description.truncate(int(in.next()));
    for (int i = 0; i < tiff.width * tiff.height; ++i)
        tiff.values.push_back(float(in.number(2.0, 2.0)));
    return tiff.encode();
}

QByteArray recordFile(Bytes &in, const QString &tag, double energy)
{
    const unsigned kind = in.next() % 5;
    if (kind == 4)
        return in.take(in.next() * 16 + in.next());
    if (kind == 3)
        return QByteArray();
    QJsonObject o = RunRecord::programKeys();
    o["tag"] = tag;
    o["energy_eV"] = energy;
    o["cor"] = in.number(12.0, 10.0);
    o["n"] = in.number(24.0, 20.0);
    o["projections"] = in.number(90.0, 90.0);
    o["region"] = QJsonArray{in.number(4, 6), in.number(4, 6), in.number(16, 6), in.number(16, 6)};
    if (kind == 2)
        o["energy_eV"] = QString::number(energy);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(FuzzInput::quietMessages);
    // What a fuzzed size may ask for stays well inside the fuzzer's memory limit.
    MemoryBudget::setLimit(qint64(256) << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    const QString root = folder();
    QDir(root).removeRecursively();
    if (!QDir().mkpath(root))
        return 0;
    const QString name = QStringLiteral("fz");
    const int energies = 2 + int(in.next() % 3);
    for (int k = 0; k < energies; ++k) {
        const double energy = in.number(7100.0 + 20.0 * k, 10.0);
        const QString tag = QStringLiteral("%1_0eV").arg(7100 + 20 * k);
        writeBytes(QDir(root).filePath(ResultLayout::recordFileName(name, tag)),
                   recordFile(in, tag, energy));
        const int slices = 1 + int(in.next() % 2);
        for (int s = 0; s < slices; ++s)
            writeBytes(QDir(root).filePath(ResultLayout::fileName(
                           name, tag, QStringLiteral("%1").arg(s, 5, 10, QChar('0')), "tif")),
                       sliceFile(in, tag, s));
    }
    XafsLayout layout;
    layout.folder = root;
    layout.name = name;
    XafsSettings settings;
    const unsigned options = in.next();
    settings.flatten = options & 1;
    settings.registerEnergies = options & 2;
    if (options & 4)
        settings.fixedE0 = in.number(7120.0, 20.0);
    try {
        XafsBuilder builder(layout, settings);
        builder.build();
    } catch (const std::bad_alloc &) {
        // Refused by the memory budget: the build answers "No memory".
    }
    return 0;
}

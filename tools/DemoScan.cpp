#include "DemoScan.h"

#include "util/TextFile.h"

#include <QDebug>
#include <QSaveFile>

#include <cmath>
#include <random>

namespace {

constexpr double pi = 3.141592653589793;

// The jitter's own generator: the photon noise of a seed stays the same with and
// without jitter.
constexpr quint64 jitterStream = 0x6a09e667f3bcc909ULL;

} // namespace

namespace DemoScan {

int droppedFrames(const DemoSettings &s)
{
    return int(std::lround(s.dropBlock * s.projections));
}

std::vector<DemoFrame> frames(const DemoSettings &s)
{
    const int p = s.projections;
    const double range = s.scanRange == 360 ? 2.0 * pi : pi;
    const int dropped = droppedFrames(s);
    const int dropFrom = (p - dropped) / 2;
    std::mt19937_64 random(s.seed ^ jitterStream);
    std::uniform_real_distribution<double> fraction(-1.0, 1.0);
    std::vector<DemoFrame> kept;
    kept.reserve(size_t(p - dropped));
    for (int i = 0; i < p; ++i) {
        DemoFrame frame{i * range / p, 1.0, i};
        // Drawn for every frame scanned, so a dropped block leaves the others' angles.
        if (s.anglesJitter > 0.0)
            frame.theta += fraction(random) * s.anglesJitter * range / p;
        if (s.beamDecay > 0.0 && p > 1)
            frame.beam = 1.0 - s.beamDecay * i / (p - 1);
        if (i < dropFrom || i >= dropFrom + dropped)
            kept.push_back(frame);
    }
    return kept;
}

QString problem(const DemoSettings &s)
{
    if (s.scanRange != 180 && s.scanRange != 360)
        return QStringLiteral("the scan range must be 180 or 360 degrees");
    if (!(s.anglesJitter >= 0.0 && s.anglesJitter <= 0.5))
        return QStringLiteral("the angles' jitter must be 0 to 0.5 of a step");
    if (!(s.dropBlock >= 0.0 && s.dropBlock < 1.0) ||
        (s.dropBlock > 0.0 && s.projections - droppedFrames(s) < 2))
        return QStringLiteral("the dropped block must leave 2 frames or more");
    if (!(s.beamDecay >= 0.0 && s.beamDecay <= 0.5))
        return QStringLiteral("the beam decay must be 0 to 0.5");
    if (s.axis >= 0.0 && !(s.axis >= 1.0 && s.axis <= s.width - 2.0))
        return QStringLiteral("the axis must lie on the detector, 1 to width - 2");
    if (s.axis >= 0.0 && s.cor >= 0.0)
        return QStringLiteral("give the axis by --axis or by --cor, not both");
    if (!(s.sampleWidth >= 0.0 && s.sampleWidth <= 16384.0))
        return QStringLiteral("the sample width must be 8 to 16384 pixels");
    if (s.sampleWidth > 0.0 && s.sampleWidth < 8.0)
        return QStringLiteral("the sample width must be 8 to 16384 pixels");
    return QString();
}

bool writeAngles(const QString &path, const std::vector<DemoFrame> &frames)
{
    QByteArray text("# orvo2demo: the angle of each projection in degrees, in projection order\n");
    for (const DemoFrame &frame : frames)
        text += QByteArray::number(frame.theta * 180.0 / pi, 'g', 15) + '\n';
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return true;
    qDebug() << "Can not write demo angles file" << path;
    return false;
}

QString readEnergies(const QString &path, std::vector<double> *energies)
{
    energies->clear();
    std::vector<double> read;
    QStringList lines;
    const TextFile::Result result = TextFile::readLines(path, &lines);
    if (result == TextFile::CanNotOpen)
        return QStringLiteral("can not open the energies file %1").arg(path);
    if (result != TextFile::Read)
        return QStringLiteral("%1: %2").arg(TextFile::refusal(result), path);
    for (int i = 0; i < lines.size(); ++i) {
        const QString text = lines[i].section(QLatin1Char('#'), 0, 0).trimmed();
        if (text.isEmpty())
            continue;
        bool ok = false;
        const double e = text.toDouble(&ok);
        const QString where = QStringLiteral("%1 line %2: ").arg(path).arg(i + 1);
        if (!ok || !std::isfinite(e) || !(e > 0.0))
            return where + QStringLiteral("\"%1\" is not an energy in eV").arg(text);
        if (!read.empty() && !(e > read.back()))
            return where + QStringLiteral("%1 eV does not follow %2 eV: the energies must "
                                          "increase from line to line")
                               .arg(e)
                               .arg(read.back());
        read.push_back(e);
    }
    if (read.empty())
        return QStringLiteral("the energies file %1 holds no energy").arg(path);
    *energies = std::move(read);
    return QString();
}

} // namespace DemoScan

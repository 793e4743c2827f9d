#include "ScanGeometry.h"

#include "util/SafeFile.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double pi = 3.141592653589793;
// An angle file of a million projections is far beyond any scan; anything larger
// is not an angle file.
constexpr qint64 maxAngleFileBytes = 64 * 1024 * 1024;

} // namespace

std::vector<double> ScanGeometry::anglesOf(int count) const
{
    if (!anglesDeg.empty())
        return anglesDeg;
    std::vector<double> angles(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        angles[i] = i * double(rangeDegrees) / count;
    return angles;
}

CtFbp::Geometry ScanGeometry::forSinogram(int count, int sinogramWidth, int lineLength,
                                          double cor) const
{
    CtFbp::Geometry g;
    if (isDefault())
        return g;
    g.anglesDeg = anglesOf(count);
    g.weights = weightsOf(g.anglesDeg, rangeDegrees);
    if (isHalfAcquisition(rangeDegrees, lineLength, cor))
        g.sampleWeights = halfAcquisitionWeights(sinogramWidth, lineLength, cor);
    return g;
}

QJsonObject ScanGeometry::recordOf(int count) const
{
    const std::vector<double> angles = anglesOf(count);
    QJsonObject o;
    o["source"] = anglesDeg.empty() ? QStringLiteral("even") : source;
    o["count"] = static_cast<int>(angles.size());
    o["first"] = angles.empty() ? 0.0 : angles.front();
    o["last"] = angles.empty() ? 0.0 : angles.back();
    return o;
}

ScanGeometry ScanGeometry::fromAngles(std::vector<double> angles, int range, const QString &source)
{
    ScanGeometry g;
    g.rangeDegrees = range;
    g.anglesDeg = std::move(angles);
    g.source = source;
    return g;
}

std::vector<double> ScanGeometry::weightsOf(const std::vector<double> &angles, double range)
{
    const size_t p = angles.size();
    std::vector<double> weights(p, 1.0);
    if (p < 2 || !(range > 0.0))
        return weights;
    // Angles modulo the range, in order; ties keep projection order.
    std::vector<double> reduced(p);
    for (size_t i = 0; i < p; ++i) {
        double a = std::fmod(angles[i], range);
        if (a < 0.0)
            a += range;
        reduced[i] = a;
    }
    std::vector<size_t> order(p);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&reduced](size_t a, size_t b) { return reduced[a] < reduced[b]; });
    for (size_t k = 0; k < p; ++k) {
        const double below = k > 0 ? reduced[order[k - 1]] : reduced[order[p - 1]] - range;
        const double above = k + 1 < p ? reduced[order[k + 1]] : reduced[order[0]] + range;
        weights[order[k]] = double(p) * 0.5 * (above - below) / range;
    }
    return weights;
}

bool ScanGeometry::readAngleFile(const QString &path, std::vector<double> *angles, QString *error)
{
    angles->clear();
    QByteArray bytes;
    const SafeFile::ReadResult read = SafeFile::readAll(path, maxAngleFileBytes, &bytes);
    if (read != SafeFile::Read) {
        const QString why = read == SafeFile::CanNotOpen ? QStringLiteral("(can not open)")
                                                         : SafeFile::refusal(read);
        *error = QStringLiteral("Can not read angle file %1 %2").arg(why, path);
        return false;
    }
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        const int comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        bool ok = false;
        const double value = line.toDouble(&ok);
        if (!ok || !std::isfinite(value)) {
            *error = QStringLiteral("Angle file line %1 is not an angle : %2 %3")
                         .arg(i + 1)
                         .arg(line.left(40), path);
            angles->clear();
            return false;
        }
        angles->push_back(value);
    }
    if (angles->empty()) {
        *error = QStringLiteral("Angle file holds no angle : %1").arg(path);
        return false;
    }
    return true;
}

bool ScanGeometry::isHalfAcquisition(int range, int lineLength, double cor)
{
    if (range != 360 || lineLength < 4 || !std::isfinite(cor))
        return false;
    const double middle = 0.5 * (lineLength - 1);
    const double toEdge = std::min(cor, lineLength - 1.0 - cor);
    return toEdge < std::fabs(cor - middle);
}

int ScanGeometry::halfAcquisitionHalfWidth(int lineLength, double cor)
{
    const double reach = std::max(cor, lineLength - cor);
    if (!std::isfinite(reach) || reach < 1.0 || reach > 1e8)
        return 0;
    // N = 2 * (halfWidth - 1) = 2 * ceil(reach).
    return static_cast<int>(std::ceil(reach)) + 1;
}

std::vector<double> ScanGeometry::halfAcquisitionWeights(int width, int lineLength, double cor)
{
    std::vector<double> w(static_cast<size_t>(std::max(width, 0)), 1.0);
    if (width < 1)
        return w;
    const double middle = 0.5 * (lineLength - 1);
    // u: the distance from the axis toward the near edge, where the data end at
    // `nearEdge` (the last sample pair an interpolation can read).
    const double toward = cor > middle ? 1.0 : -1.0;
    const double nearEdge = cor > middle ? lineLength - 1.0 - cor : cor;
    // One sample short of the edge, so every weighted sample was measured.
    const double overlap = std::max(nearEdge - 1.0, 0.5);
    const double axis = 0.5 * (width - 1);
    for (int j = 0; j < width; ++j) {
        const double u = toward * (j - axis);
        if (u <= -overlap)
            w[j] = 2.0;
        else if (u >= overlap)
            w[j] = 0.0;
        else
            w[j] = 1.0 + std::cos(pi * (u + overlap) / (2.0 * overlap));
    }
    return w;
}

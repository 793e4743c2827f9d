#include "XafsMapList.h"

#include "util/TextFile.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsTiff.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

bool readMap(const QDir &dir, const QString &name, const QString &kind, int slice,
             XafsMapEntry *entry, QString *description = nullptr)
{
    const QString path = dir.filePath(XafsBuilder::stackFileName(name, kind, slice));
    if (!QFileInfo::exists(path))
        return false;
    std::vector<XafsPage> pages;
    if (!XafsTiff::readPages(path, &pages) || pages.empty())
        return false;
    entry->values = std::move(pages.front().values);
    if (description)
        *description = pages.front().description;
    return true;
}

} // namespace

namespace XafsMapList {

std::vector<XafsMapEntry> load(const QString &folder, const QString &name, int slice,
                               QString *jumpUnit)
{
    using Scale = XafsMapEntry::Scale;
    const QDir dir(folder);
    std::vector<XafsMapEntry> maps;
    XafsMapEntry jump;
    QString description;
    *jumpUnit = QStringLiteral("1/pixel");
    if (readMap(dir, name, QStringLiteral("jump"), slice, &jump, &description)) {
        const QJsonObject o = QJsonDocument::fromJson(description.toUtf8()).object();
        *jumpUnit = o.value(QLatin1String("unit")).toString(*jumpUnit);
    }
    // The unit of the values the colour bar spans: the jump map's as built.
    jump.label = QCoreApplication::translate("XafsPanel", "Edge jump (%1)").arg(*jumpUnit);
    maps.push_back(std::move(jump));
    XafsMapEntry e0{
        QCoreApplication::translate("XafsPanel", "Edge position E0 (eV)"), Scale::Percentiles, {}};
    readMap(dir, name, QStringLiteral("e0"), slice, &e0);
    maps.push_back(std::move(e0));
    auto optional = [&](const QString &kind, const QString &label, Scale scale) {
        XafsMapEntry m{label, scale, {}};
        if (readMap(dir, name, kind, slice, &m))
            maps.push_back(std::move(m));
    };
    optional(QStringLiteral("edge50"),
             QCoreApplication::translate("XafsPanel", "Edge at half height (eV)"),
             Scale::Percentiles);
    optional(QStringLiteral("wl-energy"),
             QCoreApplication::translate("XafsPanel", "White-line energy (eV)"),
             Scale::Percentiles);
    optional(QStringLiteral("wl-height"),
             QCoreApplication::translate("XafsPanel", "White-line height (normalised)"),
             Scale::Range);
    // One weight map per reference of the last fit, found by its file name.
    const QString pattern = XafsBuilder::stackFileName(name, QStringLiteral("lcf-*"), slice);
    const int star = pattern.lastIndexOf(QLatin1Char('*'));
    const QString prefix = pattern.left(star);
    const QString suffix = pattern.mid(star + 1);
    const QStringList weights = dir.entryList({pattern}, QDir::Files, QDir::Name);
    for (const QString &file : weights) {
        const QString reference =
            file.mid(prefix.size(), file.size() - prefix.size() - suffix.size());
        if (reference != QLatin1String("rfactor") && !reference.isEmpty())
            optional(QStringLiteral("lcf-") + reference,
                     QCoreApplication::translate("XafsPanel", "LCF weight of %1").arg(reference),
                     Scale::Range);
    }
    optional(QStringLiteral("lcf-rfactor"),
             QCoreApplication::translate("XafsPanel", "LCF R-factor"), Scale::Percentiles);
    for (int k = 1; k <= 64; ++k) {
        const size_t before = maps.size();
        optional(QStringLiteral("pca-") + QString::number(k),
                 QCoreApplication::translate("XafsPanel", "PCA score %1").arg(k),
                 Scale::Percentiles);
        if (maps.size() == before)
            break;
    }
    optional(QStringLiteral("cluster"), QCoreApplication::translate("XafsPanel", "Clusters"),
             Scale::Clusters);
    return maps;
}

bool percentileRange(const std::vector<float> &values, double q, double *lo, double *hi)
{
    std::vector<float> finite;
    finite.reserve(values.size());
    for (float v : values) {
        if (std::isfinite(v))
            finite.push_back(v);
    }
    if (finite.empty())
        return false;
    const size_t last = finite.size() - 1;
    const size_t low = static_cast<size_t>(std::floor(q * static_cast<double>(last)));
    const size_t high = static_cast<size_t>(std::ceil((1.0 - q) * static_cast<double>(last)));
    std::nth_element(finite.begin(), finite.begin() + low, finite.end());
    *lo = finite[low];
    std::nth_element(finite.begin(), finite.begin() + high, finite.end());
    *hi = finite[high];
    return true;
}

bool readClusterMeans(const QString &folder, const QString &name, std::vector<double> *energies,
                      std::vector<std::vector<double>> *means, std::vector<size_t> *voxels)
{
    energies->clear();
    means->clear();
    voxels->clear();
    QStringList lines;
    if (TextFile::readLines(QDir(folder).filePath(name + QStringLiteral("-clusters.csv")),
                            &lines) != TextFile::Read ||
        lines.isEmpty())
        return false;
    // cluster,voxels,E1,E2,...; then one line per cluster.
    const QStringList head = lines.front().split(QLatin1Char(','));
    for (int i = 2; i < head.size(); ++i)
        energies->push_back(head[i].toDouble());
    for (int l = 1; l < lines.size(); ++l) {
        const QStringList fields = lines[l].split(QLatin1Char(','));
        if (fields.size() != head.size())
            continue;
        voxels->push_back(static_cast<size_t>(std::max(0LL, fields[1].toLongLong())));
        std::vector<double> mean;
        for (int i = 2; i < fields.size(); ++i) {
            bool ok = false;
            const double v = fields[i].toDouble(&ok);
            mean.push_back(ok ? v : std::nan(""));
        }
        means->push_back(std::move(mean));
    }
    return !energies->empty() && !means->empty();
}

} // namespace XafsMapList

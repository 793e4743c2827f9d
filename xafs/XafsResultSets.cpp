#include "XafsResultSets.h"

#include "ct/RunRecord.h"
#include "sets/Kvn.h"
#include "util/Numbers.h"
#include "util/SafeFile.h"
#include "xafs/XafsTiff.h"

#include <QDebug>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

QJsonObject jsonOf(const QByteArray &text)
{
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    return doc.isObject() ? doc.object() : QJsonObject();
}

double numberOr(const QJsonObject &o, const char *key, double fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() && std::isfinite(v.toDouble()) ? v.toDouble() : fallback;
}

// Sets agree when their slices cover the same pixels with the same FFT length.
using RegionKey = std::tuple<int, int, int, int, int>;
RegionKey regionOf(const XafsResultSet &s)
{
    return {s.n, s.x0, s.z0, s.width, s.height};
}

// Positions and sizes come from files: before they size a stack or a picture they
// must describe a region of the set's own N x N slice (N itself bounded like the
// TIFF reader's sizes), or x0 + width overflows whatever it sizes.
bool regionFitsSlice(const XafsResultSet &s)
{
    constexpr qint64 largestN = 65536;
    const qint64 n = s.n > 0 ? s.n : largestN;
    return s.n <= largestN && s.x0 >= 0 && s.z0 >= 0 && s.width > 0 && s.height > 0 &&
           qint64(s.x0) + s.width <= n && qint64(s.z0) + s.height <= n;
}

} // namespace

QString XafsResultSets::outputFolderName()
{
    return QStringLiteral("xafs");
}

std::vector<XafsResultSet> XafsResultSets::find(const XafsLayout &layout, int *damaged)
{
    const ResultLayout results = layout.results();
    const QString extension = QStringLiteral("tif");
    const QRegularExpression pattern = ResultLayout::filePattern(layout.name, extension);
    // With both kinds of sub folder a slice is found twice, and kept once.
    const QStringList folders = results.foldersToSearch(layout.folder, {outputFolderName()});
    std::map<QString, XafsResultSet> byTag;
    QSet<QString> refusedTags;
    *damaged = 0;
    for (const QString &folder : folders) {
        const QDir dir(folder);
        const QStringList files = dir.entryList({ResultLayout::fileFilter(layout.name, extension)},
                                                QDir::Files, QDir::Name);
        for (const QString &file : files) {
            const QRegularExpressionMatch m = pattern.match(file);
            if (!m.hasMatch())
                continue;
            const QString tag = m.captured(1);
            if (refusedTags.contains(tag))
                continue;
            const int slice = m.captured(2).toInt();
            const QString path = dir.filePath(file);
            XafsPage info;
            if (!XafsTiff::readInfo(path, &info))
                continue;
            const QJsonObject meta = jsonOf(info.description.toUtf8());
            auto it = byTag.find(tag);
            if (it == byTag.end()) {
                XafsResultSet s;
                s.tag = tag;
                const QString recordPath = results.recordPath(layout.folder, layout.name, tag);
                QByteArray recordBytes;
                const SafeFile::ReadResult read =
                    SafeFile::readAll(recordPath, RunRecord::maxBytes, &recordBytes);
                if (read != SafeFile::Read && read != SafeFile::CanNotOpen) {
                    qDebug() << "XAFS: set refused, its run record can not be read"
                             << SafeFile::refusal(read) << recordPath;
                    refusedTags.insert(tag);
                    ++*damaged;
                    continue;
                }
                const QJsonObject record = jsonOf(recordBytes);
                // The run record speaks for the set; the slice's own description stands
                // in when there is no record, and the energy text of the tag last.
                const double kvnEnergy = unitFactorOf(tag) * energyOf(tag);
                s.energy = numberOr(record, "energy_eV",
                                    numberOr(meta, "energy_eV", kvnEnergy > 0 ? kvnEnergy : NAN));
                s.cor = numberOr(record, "cor", numberOr(meta, "cor", 0.0));
                s.projections = Numbers::saturateToInt(
                    numberOr(record, "projections", numberOr(meta, "projections", 0.0)));
                s.n = Numbers::saturateToInt(numberOr(record, "n", numberOr(meta, "n", 0.0)));
                s.x0 = Numbers::floorToInt(info.x0);
                s.z0 = Numbers::floorToInt(info.z0);
                s.width = info.width;
                s.height = info.height;
                if (!regionFitsSlice(s)) {
                    qDebug() << "XAFS: set refused, its region is not a region of an N x N slice"
                             << "(x0, z0, width, height, N)" << s.x0 << s.z0 << s.width << s.height
                             << s.n << path;
                    refusedTags.insert(tag);
                    ++*damaged;
                    continue;
                }
                it = byTag.emplace(tag, s).first;
            }
            XafsResultSet &s = it->second;
            if (info.width != s.width || info.height != s.height ||
                Numbers::floorToInt(info.x0) != s.x0 || Numbers::floorToInt(info.z0) != s.z0) {
                qDebug() << "XAFS: slice region differs from its set, skipped" << path;
                continue;
            }
            if (!s.slices.contains(slice))
                s.slices.insert(slice, path);
        }
    }
    std::vector<XafsResultSet> sets;
    for (auto &entry : byTag)
        sets.push_back(entry.second);
    return sets;
}

std::vector<XafsResultSet> XafsResultSets::refuseMisfits(std::vector<XafsResultSet> sets)
{
    std::vector<XafsResultSet> usable;
    for (XafsResultSet &s : sets) {
        if (!std::isfinite(s.energy) || s.energy <= 0.0) {
            qDebug() << "XAFS: set refused, no energy" << s.tag;
            continue;
        }
        if (s.projections < 1) {
            qDebug() << "XAFS: set refused, no projection count" << s.tag;
            continue;
        }
        usable.push_back(std::move(s));
    }
    std::map<RegionKey, int> votes;
    for (const XafsResultSet &s : usable)
        ++votes[regionOf(s)];
    // The region most sets share; on a tie the one of the lowest energy's set.
    std::sort(usable.begin(), usable.end(),
              [](const XafsResultSet &a, const XafsResultSet &b) { return a.energy < b.energy; });
    RegionKey common{};
    int most = 0;
    for (const XafsResultSet &s : usable) {
        if (votes[regionOf(s)] > most) {
            most = votes[regionOf(s)];
            common = regionOf(s);
        }
    }
    std::vector<XafsResultSet> kept;
    for (XafsResultSet &s : usable) {
        if (regionOf(s) != common) {
            qDebug() << "XAFS: set refused, region or N differs" << s.tag;
            continue;
        }
        if (!kept.empty() && kept.back().energy == s.energy) {
            qDebug() << "XAFS: set refused, energy measured twice" << s.tag;
            continue;
        }
        kept.push_back(std::move(s));
    }
    return kept;
}

QList<int> XafsResultSets::completeSlices(const std::vector<XafsResultSet> &sets)
{
    QMap<int, QStringList> missing;
    QList<int> all;
    for (const XafsResultSet &s : sets) {
        for (auto it = s.slices.cbegin(); it != s.slices.cend(); ++it) {
            if (!all.contains(it.key()))
                all << it.key();
        }
    }
    std::sort(all.begin(), all.end());
    QList<int> complete;
    for (int slice : qAsConst(all)) {
        QStringList tags;
        for (const XafsResultSet &s : sets) {
            if (!s.slices.contains(slice))
                tags << s.tag;
        }
        if (tags.isEmpty())
            complete << slice;
        else
            qDebug() << "XAFS: slice missing at some energy, skipped" << slice << tags;
    }
    return complete;
}

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
#include <limits>
#include <map>

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

namespace {

// A set's region in the pixels of the reference N x N slice: the rotation axis lies at
// N / 2 of every slice, so a slice of N + 2d pixels shows the reference's pixel x at
// x + d. Sets whose N differs by an odd count would need half a pixel of shift.
struct Box
{
    qint64 x0 = 0;
    qint64 z0 = 0;
    qint64 x1 = 0;
    qint64 z1 = 0;
    bool holds(qint64 x, qint64 z) const { return x >= x0 && x < x1 && z >= z0 && z < z1; }
};

bool alignable(int n, int reference)
{
    return n == reference || (n > 0 && reference > 0 && (n - reference) % 2 == 0);
}

Box boxOf(const XafsResultSet &s, int reference)
{
    const qint64 d = (qint64(s.n) - reference) / 2;
    return {s.x0 - d, s.z0 - d, s.x0 - d + s.width, s.z0 - d + s.height};
}

// The N most sets have; on a tie the lowest energy's.
int commonN(const std::vector<XafsResultSet> &sets)
{
    std::map<int, int> votes;
    for (const XafsResultSet &s : sets)
        ++votes[s.n];
    int n = 0, most = 0;
    for (const XafsResultSet &s : sets) {
        if (votes[s.n] > most) {
            most = votes[s.n];
            n = s.n;
        }
    }
    return n;
}

// The sets that share a pixel with the most others. Boxes that overlap in pairs
// overlap all together, so the sets holding the pixel covered most often are the
// largest group with a common region; on a tie the pixel found first (corners in
// energy order) wins.
std::vector<bool> largestOverlap(const std::vector<Box> &boxes)
{
    size_t most = 0;
    qint64 bestX = 0, bestZ = 0;
    for (const Box &a : boxes) {
        for (const Box &b : boxes) {
            if (!a.holds(a.x0, b.z0))
                continue;
            size_t count = 0;
            for (const Box &c : boxes)
                count += c.holds(a.x0, b.z0) ? 1 : 0;
            if (count > most) {
                most = count;
                bestX = a.x0;
                bestZ = b.z0;
            }
        }
    }
    std::vector<bool> kept;
    for (const Box &c : boxes)
        kept.push_back(most > 0 && c.holds(bestX, bestZ));
    return kept;
}

} // namespace

std::vector<XafsResultSet> XafsResultSets::fitToCommonRegion(std::vector<XafsResultSet> sets,
                                                             XafsRegion *region, int *unusable)
{
    *region = XafsRegion();
    *unusable = 0;
    std::vector<XafsResultSet> usable;
    for (XafsResultSet &s : sets) {
        if (!std::isfinite(s.energy) || s.energy <= 0.0) {
            qDebug() << "XAFS: set refused, no energy" << s.tag;
            ++*unusable;
            continue;
        }
        if (s.projections < 1) {
            qDebug() << "XAFS: set refused, no projection count" << s.tag;
            ++*unusable;
            continue;
        }
        usable.push_back(std::move(s));
    }
    std::stable_sort(
        usable.begin(), usable.end(),
        [](const XafsResultSet &a, const XafsResultSet &b) { return a.energy < b.energy; });
    const int n = commonN(usable);
    std::vector<XafsResultSet> aligned;
    for (XafsResultSet &s : usable) {
        if (!alignable(s.n, n)) {
            qDebug() << "XAFS: set refused, its N can not be aligned on the others' (no N, or"
                     << "an odd difference)" << s.n << n << s.tag;
            ++*unusable;
            continue;
        }
        aligned.push_back(std::move(s));
    }
    std::vector<Box> boxes;
    for (const XafsResultSet &s : aligned)
        boxes.push_back(boxOf(s, n));
    const std::vector<bool> overlapping = largestOverlap(boxes);
    std::vector<XafsResultSet> kept;
    Box common{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::min(),
               std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    for (size_t i = 0; i < aligned.size(); ++i) {
        XafsResultSet &s = aligned[i];
        if (!overlapping[i]) {
            qDebug() << "XAFS: set refused, its region does not overlap the others' common region"
                     << "(x0, z0, width, height, N)" << s.x0 << s.z0 << s.width << s.height << s.n
                     << s.tag;
            ++*unusable;
            continue;
        }
        if (!kept.empty() && kept.back().energy == s.energy) {
            qDebug() << "XAFS: set refused, energy measured twice" << s.tag;
            continue;
        }
        common = {std::max(common.x0, boxes[i].x0), std::max(common.z0, boxes[i].z0),
                  std::min(common.x1, boxes[i].x1), std::min(common.z1, boxes[i].z1)};
        kept.push_back(std::move(s));
    }
    if (kept.empty())
        return kept;
    // The stacks take the pixels of the N most kept sets have: the common region lies
    // inside each of their slices.
    const int keptN = commonN(kept);
    const qint64 d = (qint64(keptN) - n) / 2;
    *region = {keptN, int(common.x0 + d), int(common.z0 + d), int(common.x1 - common.x0),
               int(common.z1 - common.z0)};
    bool cut = false;
    for (XafsResultSet &s : kept) {
        const Box box = boxOf(s, keptN);
        s.cropX = region->x0 - int(box.x0);
        s.cropZ = region->z0 - int(box.z0);
        cut = cut || s.width != region->width || s.height != region->height;
        if (s.n != keptN)
            qDebug() << "XAFS: set aligned on the rotation axis, its N and region (x0, z0, width,"
                     << "height)" << s.n << s.x0 << s.z0 << s.width << s.height << s.tag;
    }
    if (cut)
        qDebug() << "XAFS: the stacks cover the sets' common region (x0, z0, width, height, N)"
                 << region->x0 << region->z0 << region->width << region->height << region->n;
    return kept;
}

QList<int> XafsResultSets::completeSlices(const std::vector<XafsResultSet> &sets,
                                          QList<int> *incomplete)
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
        if (tags.isEmpty()) {
            complete << slice;
        } else {
            qDebug() << "XAFS: slice missing at some energy, skipped" << slice << tags;
            if (incomplete)
                *incomplete << slice;
        }
    }
    return complete;
}

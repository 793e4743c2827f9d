#include "XafsBuilder.h"

#include "ct/AttenuationScale.h"
#include "ct/ResultLayout.h"
#include "ct/RunRecord.h"
#include "sets/Kvn.h"
#include "util/Csv.h"
#include "util/Numbers.h"
#include "util/SafeFile.h"
#include "xafs/XafsRecord.h"
#include "xafs/XafsRegister.h"
#include "xafs/XafsTiff.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <thread>

#include <stdlib.h>
#include <sys/mman.h>

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

QString description(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// The builder's output folder, beside the results it reads.
QString outputFolderName()
{
    return QStringLiteral("xafs");
}

// Sets agree when their slices cover the same pixels with the same FFT length.
using RegionKey = std::tuple<int, int, int, int, int>;
RegionKey regionOf(const XafsResultSet &s)
{
    return {s.n, s.x0, s.z0, s.width, s.height};
}

} // namespace

XafsBuilder::XafsBuilder(const XafsLayout &l, const XafsSettings &s)
    : layout(l)
    , settings(s)
{
}

XafsBuilder::~XafsBuilder() = default;

QString XafsBuilder::outputFolder() const
{
    return QDir(layout.folder).filePath(outputFolderName());
}

QString XafsBuilder::stackFileName(const QString &name, const QString &kind, int slice)
{
    return ResultLayout::fileName(name, kind, sliceNumberText(slice), QStringLiteral("tif"));
}

QStringList XafsBuilder::builtSlices(const QString &folder, const QString &name)
{
    const QString kind = QStringLiteral("mu");
    const QString extension = QStringLiteral("tif");
    const QRegularExpression pattern = ResultLayout::filePattern(name, extension);
    const QStringList files = QDir(folder).entryList({ResultLayout::fileFilter(name, extension)},
                                                     QDir::Files, QDir::Name);
    QStringList slices;
    for (const QString &file : files) {
        const QRegularExpressionMatch m = pattern.match(file);
        if (m.hasMatch() && m.captured(1) == kind)
            slices << m.captured(2);
    }
    return slices;
}

QString XafsBuilder::energiesFileName(const QString &name)
{
    return name + QStringLiteral("-energies.csv");
}

namespace {

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

std::vector<XafsResultSet> XafsBuilder::findSets() const
{
    const ResultLayout results = layout.results();
    const QString extension = QStringLiteral("tif");
    const QRegularExpression pattern = ResultLayout::filePattern(layout.name, extension);
    // With both kinds of sub folder a slice is found twice, and kept once.
    const QStringList folders = results.foldersToSearch(layout.folder, {outputFolderName()});
    std::map<QString, XafsResultSet> byTag;
    QSet<QString> refusedTags;
    damagedInputs = 0;
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
                    ++damagedInputs;
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
                    ++damagedInputs;
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

std::vector<XafsResultSet> XafsBuilder::refuseMisfits(std::vector<XafsResultSet> sets)
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

QList<int> XafsBuilder::completeSlices(const std::vector<XafsResultSet> &sets)
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

int XafsBuilder::build()
{
    found = refuseMisfits(findSets());
    if (damagedInputs > 0) {
        qDebug() << "XAFS: build refused, damaged or unreadable results" << damagedInputs;
        found.clear();
        return 0;
    }
    if (found.size() < 3) {
        qDebug() << "XAFS: fewer than 3 energies found for" << layout.name << layout.folder;
        return 0;
    }
    const QList<int> slices = completeSlices(found);
    if (slices.isEmpty() || !QDir().mkpath(outputFolder())) {
        qDebug() << "XAFS: nothing to build in" << outputFolder();
        return 0;
    }
    QMap<int, std::vector<XafsEnergyRow>> rows;
    sliceRecords = QJsonArray();
    for (int slice : slices) {
        std::vector<XafsEnergyRow> sliceRows;
        if (buildSlice(slice, &sliceRows))
            rows.insert(slice, sliceRows);
    }
    if (rows.isEmpty() || !writeEnergies(rows) || !writeRecord(rows.keys()))
        return 0;
    qDebug() << "XAFS: built slices" << rows.keys();
    return static_cast<int>(rows.size());
}

namespace {

// Floats left uninitialised: every value is written before it is read. A slice's stack
// runs to hundreds of MB; on Linux the kernel is asked for huge pages, as faulting it in
// 4 KiB at a time costs more than reading the results into it.
class FloatBuffer
{
public:
    // Keeps the buffer it has when that is large enough.
    bool allocate(size_t count)
    {
        if (values && count <= capacity)
            return true;
        values.reset();
        constexpr size_t hugePage = size_t(2) << 20;
        const size_t bytes = std::max<size_t>(count, 1) * sizeof(float);
        void *p = nullptr;
        if (posix_memalign(&p, bytes >= hugePage ? hugePage : 64, bytes) != 0)
            return false;
#ifdef MADV_HUGEPAGE
        if (bytes >= hugePage)
            madvise(p, bytes / hugePage * hugePage, MADV_HUGEPAGE);
#endif
        values.reset(static_cast<float *>(p));
        capacity = count;
        return true;
    }
    float *data() const
    {
        return values.get();
    }

private:
    struct Free
    {
        void operator()(float *p) const { std::free(p); }
    };
    std::unique_ptr<float, Free> values;
    size_t capacity = 0;
};

// The stack of µ of one slice: page k (energy k) holds width * height values.
struct Stack
{
    int width = 0;
    int height = 0;
    size_t energies = 0;
    size_t pixels() const { return static_cast<size_t>(width) * static_cast<size_t>(height); }
    FloatBuffer values;
    float *page(size_t k) { return values.data() + k * pixels(); }
    const float *page(size_t k) const { return values.data() + k * pixels(); }
};

// Reads the results of energies first..end of a slice into their pages, as µ per pixel.
bool readEnergies(const std::vector<XafsResultSet> &sets, int slice, size_t first, size_t end,
                  Stack *stack)
{
    for (size_t k = first; k < end; ++k) {
        const XafsResultSet &s = sets[k];
        const QString path = s.slices.value(slice);
        XafsPage info;
        float *page = stack->page(k);
        if (!XafsTiff::readInto(path, page, stack->pixels(), &info)) {
            qDebug() << "XAFS: slice skipped, result unreadable" << slice << path;
            return false;
        }
        const int projections = s.projections;
        for (size_t i = 0; i < stack->pixels(); ++i)
            page[i] = static_cast<float>(attenuationPerPixel(page[i], projections));
    }
    return true;
}

// The energy the mean spectrum of the slice puts its edge at, as the reference of
// the registration: drift is measured against the slice where the edge contrast is.
size_t referenceEnergy(Stack &stack, const XafsNormaliser &normaliser)
{
    const std::vector<double> &energies = normaliser.energies();
    std::vector<double> mean(energies.size(), 0.0);
    for (size_t k = 0; k < energies.size(); ++k) {
        const float *p = stack.page(k);
        double sum = 0.0;
        for (size_t i = 0; i < stack.pixels(); ++i)
            sum += std::isfinite(p[i]) ? p[i] : 0.0;
        mean[k] = sum / static_cast<double>(stack.pixels());
    }
    const XafsFit fit = normaliser.fit(mean.data());
    const double e0 = std::isfinite(fit.e0) ? fit.e0 : energies[energies.size() / 2];
    size_t best = 0;
    for (size_t k = 1; k < energies.size(); ++k) {
        if (std::abs(energies[k] - e0) < std::abs(energies[best] - e0))
            best = k;
    }
    return best;
}

// What the normalised stack and the maps need of every voxel's fit. The normalised
// page of an energy is worked out from these just before it is written, so no second
// stack is ever held.
// The post-edge curve of a voxel, post(E) - pre(E), as flattening takes it off.
struct FlatCurve
{
    double e0 = 0.0;
    double ref = 0.0;
    double scale = 1.0;
    double c[4] = {0.0, 0.0, 0.0, 0.0};
};

struct VoxelFits
{
    // The pre-edge lines' reference energies: one for every voxel with fixed ranges,
    // each voxel's own when its ranges follow its E0.
    std::vector<double> preRef;
    std::vector<double> preLevel;
    std::vector<double> preSlope;
    std::vector<double> jump;
    std::vector<unsigned char> valid;
    std::vector<float> jumpMap;
    std::vector<float> e0Map;
    std::vector<XafsVoxel> state;
    std::vector<unsigned char> nnorm;
    std::vector<FlatCurve> curves; // only when flattening
};

FlatCurve flatCurveOf(const XafsFit &f)
{
    FlatCurve c;
    c.e0 = f.e0;
    if (f.polynomial) {
        c.ref = f.curveRef;
        c.scale = f.curveScale;
        std::copy(f.curve, f.curve + 4, c.c);
    } else {
        // Two straight lines: their difference is a line through the jump at E0.
        c.ref = f.e0;
        c.c[0] = f.jump;
        c.c[1] = f.post.slope - f.pre.slope;
    }
    return c;
}

void fitRange(const Stack &mu, const XafsNormaliser &normaliser, size_t first, size_t end,
              VoxelFits *fits)
{
    constexpr size_t block = 1024;
    std::vector<XafsFit> fitted(block);
    for (size_t from = first; from < end; from += block) {
        const size_t n = std::min(block, end - from);
        normaliser.fitMany(mu.page(0) + from, mu.pixels(), n, fitted.data());
        for (size_t j = 0; j < n; ++j) {
            const XafsFit &f = fitted[j];
            fits->preRef[from + j] = f.pre.energyRef;
            fits->state[from + j] = f.state;
            fits->nnorm[from + j] = static_cast<unsigned char>(f.nnorm);
            if (!fits->curves.empty())
                fits->curves[from + j] = flatCurveOf(f);
            fits->preLevel[from + j] = f.pre.level;
            fits->preSlope[from + j] = f.pre.slope;
            fits->jump[from + j] = f.jump;
            fits->valid[from + j] = f.valid ? 1 : 0;
            fits->jumpMap[from + j] = static_cast<float>(f.jump);
            fits->e0Map[from + j] = static_cast<float>(f.e0);
        }
    }
}

// The voxels are independent: two threads share them.
void fitVoxels(const Stack &mu, const XafsNormaliser &normaliser, bool flatten, VoxelFits *fits)
{
    const size_t count = mu.pixels();
    fits->preRef.resize(count);
    fits->state.resize(count);
    fits->nnorm.resize(count);
    fits->curves.resize(flatten ? count : 0);
    fits->preLevel.resize(count);
    fits->preSlope.resize(count);
    fits->jump.resize(count);
    fits->valid.resize(count);
    fits->jumpMap.resize(count);
    fits->e0Map.resize(count);
    const size_t half = count / 2;
    std::thread second(fitRange, std::cref(mu), std::cref(normaliser), half, count, fits);
    fitRange(mu, normaliser, 0, half, fits);
    second.join();
}

// (µ - pre(E)) / jump of every voxel at one energy, NaN where the fit does not count.
void normalisedPage(const float *mu, const VoxelFits &fits, double energy, size_t count, float *out)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (size_t i = 0; i < count; ++i) {
        const double offset = energy - fits.preRef[i];
        const double pre = fits.preLevel[i] + fits.preSlope[i] * offset;
        out[i] = fits.valid[i]
                     ? static_cast<float>((static_cast<double>(mu[i]) - pre) / fits.jump[i])
                     : nan;
    }
}

// The normalised page with each voxel's post-edge curve's departure from a constant
// taken off above its E0.
void flatPage(const float *normalised, const VoxelFits &fits, double energy, size_t count,
              float *out)
{
    for (size_t i = 0; i < count; ++i) {
        const FlatCurve &c = fits.curves[i];
        if (!(energy > c.e0) || !fits.valid[i]) {
            out[i] = normalised[i];
            continue;
        }
        const double t = (energy - c.ref) / c.scale;
        const double curve = c.c[0] + t * (c.c[1] + t * (c.c[2] + t * c.c[3]));
        out[i] = static_cast<float>(normalised[i] - (curve / fits.jump[i] - 1.0));
    }
}

// The mean spectrum of the slice over its finite voxels.
std::vector<double> meanSpectrum(const Stack &stack)
{
    std::vector<double> mean(stack.energies, 0.0);
    for (size_t k = 0; k < stack.energies; ++k) {
        const float *p = stack.page(k);
        double sum = 0.0;
        for (size_t i = 0; i < stack.pixels(); ++i)
            sum += std::isfinite(p[i]) ? p[i] : 0.0;
        mean[k] = stack.pixels() > 0 ? sum / static_cast<double>(stack.pixels()) : 0.0;
    }
    return mean;
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return std::nan("");
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A fit range that holds the edge normalises every voxel wrongly without any voxel
// looking odd: the mean spectrum's steepest rise tells where the edge is.
void warnIfEdgeInRanges(const Stack &stack, const XafsNormaliser &normaliser, int slice)
{
    const std::vector<double> &grid = normaliser.energies();
    const std::vector<double> mean = meanSpectrum(stack);
    size_t best = 0;
    double bestRise = -std::numeric_limits<double>::infinity();
    for (size_t k = 0; k + 1 < grid.size(); ++k) {
        const double r = (mean[k + 1] - mean[k]) / (grid[k + 1] - grid[k]);
        if (r > bestRise) {
            bestRise = r;
            best = k;
        }
    }
    const double edge = 0.5 * (grid[best] + grid[best + 1]);
    const XafsFit fit = normaliser.fit(mean.data());
    const XafsRanges r = normaliser.rangesAt(std::isfinite(fit.e0) ? fit.e0 : edge);
    if ((edge >= r.pre1 && edge <= r.pre2) || (edge >= r.post1 && edge <= r.post2))
        qDebug() << "XAFS: the steepest rise of the mean spectrum lies inside a fit range, slice"
                 << slice << "at" << edge << "eV";
}

QJsonObject sliceRecord(int slice, const XafsNormaliser &normaliser, const VoxelFits &fits)
{
    QJsonObject o{{"slice", slice}, {"voxels", static_cast<qint64>(fits.valid.size())}};
    qint64 counts[5] = {0, 0, 0, 0, 0};
    qint64 degrees[4] = {0, 0, 0, 0};
    std::vector<double> e0s;
    for (size_t i = 0; i < fits.valid.size(); ++i) {
        ++counts[static_cast<int>(fits.state[i])];
        if (fits.valid[i]) {
            ++degrees[std::min<int>(fits.nnorm[i], 3)];
            e0s.push_back(fits.e0Map[i]);
        }
    }
    o.insert("valid", counts[0] + counts[4]);
    o.insert("nan", QJsonObject{{"jump_below_minimum", counts[1]},
                                {"too_few_points_in_a_range", counts[2]},
                                {"never_crosses_half", counts[3]}});
    o.insert("e0_not_settled_after_10_rounds", counts[4]);
    if (normaliser.followsE0()) {
        const double median = medianOf(e0s);
        o.insert("median_e0_eV", std::isfinite(median) ? QJsonValue(median) : QJsonValue());
        if (std::isfinite(median)) {
            const XafsRanges r = normaliser.rangesAt(median);
            o.insert("at_median_e0", QJsonObject{{"pre_edge_eV", QJsonArray{r.pre1, r.pre2}},
                                                 {"post_edge_eV", QJsonArray{r.post1, r.post2}},
                                                 {"nnorm", r.nnorm}});
        }
        o.insert("voxels_per_nnorm",
                 QJsonObject{
                     {"0", degrees[0]}, {"1", degrees[1]}, {"2", degrees[2]}, {"3", degrees[3]}});
    }
    if (counts[1] + counts[2] + counts[3] > 0 || counts[4] > 0)
        qDebug() << "XAFS: voxels left NaN in slice" << slice << "jump below minimum" << counts[1]
                 << "too few points in a range" << counts[2] << "never crossing one half"
                 << counts[3] << "E0 not settled" << counts[4];
    return o;
}

} // namespace

bool XafsBuilder::writeRecord(const QList<int> &slices) const
{
    std::vector<double> energies;
    for (const XafsResultSet &s : found)
        energies.push_back(s.energy + settings.energyShift);
    const XafsNormaliser normaliser(energies, settings);
    QJsonArray energyList, built;
    for (double e : energies)
        energyList.append(e);
    for (int slice : slices)
        built.append(slice);
    QJsonArray perSlice;
    for (const QJsonValue &v : sliceRecords) {
        if (slices.contains(v.toObject().value("slice").toInt()))
            perSlice.append(v);
    }
    const QJsonObject record{{"name", layout.name},
                             {"normalisation", XafsRecord::settingsOf(normaliser)},
                             {"energies_eV", energyList},
                             {"slices_built", built},
                             {"slices", perSlice}};
    const QString path = QDir(outputFolder()).filePath(XafsRecord::fileName(layout.name));
    return XafsRecord::write(path, record, recordExtra);
}

namespace {

// Each energy is aligned to the reference on its own, so two threads share the
// energies, each with its own transforms (planned here, on one thread).
void alignEnergies(Stack *stack, size_t reference, std::vector<XafsEnergyRow> *rows)
{
    XafsRegister first(stack->width, stack->height);
    XafsRegister second(stack->width, stack->height);
    first.setReference(stack->page(reference));
    second.setReference(stack->page(reference));
    auto align = [stack, reference, rows](XafsRegister *registration, size_t from, size_t end) {
        for (size_t k = from; k < end; ++k) {
            if (k == reference)
                continue;
            double dx = 0.0, dz = 0.0;
            registration->shiftOf(stack->page(k), &dx, &dz);
            registration->applyShift(stack->page(k), -dx, -dz);
            (*rows)[k].shiftX = -dx;
            (*rows)[k].shiftZ = -dz;
        }
    };
    const size_t half = stack->energies / 2;
    std::thread other(align, &second, half, stack->energies);
    align(&first, 0, half);
    other.join();
}

} // namespace

struct XafsBuilder::Work
{
    Stack stack;
    VoxelFits fits;
    std::vector<float> normalised;
};

bool XafsBuilder::buildSlice(int slice, std::vector<XafsEnergyRow> *rows)
{
    rows->clear();
    if (found.empty())
        return false;
    if (!work)
        work.reset(new Work);
    Stack &stack = work->stack;
    stack.width = found.front().width;
    stack.height = found.front().height;
    stack.energies = found.size();
    const size_t energies = stack.energies;
    if (!stack.values.allocate(energies * stack.pixels())) {
        qDebug() << "XAFS: slice skipped, not enough memory for its stack" << slice;
        return false;
    }
    // Reading is mostly the kernel copying file pages: two threads halve it.
    const size_t half = energies / 2;
    bool secondRead = false;
    std::thread reader([&] { secondRead = readEnergies(found, slice, half, energies, &stack); });
    const bool firstRead = readEnergies(found, slice, 0, half, &stack);
    reader.join();
    if (!firstRead || !secondRead)
        return false;
    std::vector<double> grid;
    // A calibration shift moves every energy before anything looks at them.
    for (const XafsResultSet &s : found) {
        grid.push_back(s.energy + settings.energyShift);
        rows->push_back({grid.back(), s.tag, s.cor, 0.0, 0.0});
    }
    XafsNormaliser normaliser(grid, settings);
    if (!normaliser.problem().isEmpty()) {
        qDebug() << "XAFS: can not normalise," << normaliser.problem() << "slice" << slice;
        return false;
    }
    if (settings.registerEnergies)
        alignEnergies(&stack, referenceEnergy(stack, normaliser), rows);
    warnIfEdgeInRanges(stack, normaliser, slice);
    const VoxelFits &fits = work->fits;
    fitVoxels(stack, normaliser, settings.flatten, &work->fits);
    sliceRecords.append(sliceRecord(slice, normaliser, fits));

    const QDir out(outputFolder());
    const XafsResultSet &first = found.front();
    QJsonObject common{{"slice", slice},
                       {"x0", first.x0},
                       {"z0", first.z0},
                       {"x1", first.x0 + first.width},
                       {"z1", first.z0 + first.height},
                       {"n", first.n}};
    auto pageText = [&](const char *kind, size_t k) {
        QJsonObject o = common;
        o.insert("orvo2", kind);
        if (kind == QLatin1String("xafs-mu")) {
            o.insert("scale", "already divided by 2P");
            o.insert("unit", settings.unitName());
            if (settings.pixelSizeUm > 0.0)
                o.insert("pixel_size_um", settings.pixelSizeUm);
            if (settings.energyShift != 0.0)
                o.insert("energy_shift_eV", settings.energyShift);
        }
        o.insert("index", static_cast<int>(k));
        o.insert("energy_eV", grid[k]);
        o.insert("tag", (*rows)[k].tag);
        o.insert("shift_x", (*rows)[k].shiftX);
        o.insert("shift_z", (*rows)[k].shiftZ);
        return description(o);
    };
    QJsonObject fitText = common;
    fitText.insert("pre_edge", QJsonArray{normaliser.preEdge1(), normaliser.preEdge2()});
    fitText.insert("post_edge", QJsonArray{normaliser.postEdge1(), normaliser.postEdge2()});
    fitText.insert("e0_fixed",
                   std::isfinite(settings.fixedE0) ? QJsonValue(settings.fixedE0) : QJsonValue());
    fitText.insert("min_jump", settings.minJump);
    if (normaliser.followsE0())
        fitText.insert("normalisation", XafsRecord::settingsOf(normaliser));

    // The two stacks go to disk side by side: writing them is most of the time. The
    // maps follow the µ stack, whose thread has no pages to work out.
    QJsonObject jumpText = fitText;
    jumpText.insert("orvo2", "xafs-jump");
    jumpText.insert("unit", settings.unitName());
    QJsonObject e0Text = fitText;
    e0Text.insert("orvo2", "xafs-e0");
    bool muWritten = false;
    // With a pixel size µ leaves in 1/cm; the fits stay in µ per pixel, where the
    // minimum jump is given.
    const double unit = settings.unitFactor();
    auto inUnit = [unit, &stack](const float *values, std::vector<float> *scaled) {
        if (unit == 1.0)
            return values;
        scaled->resize(stack.pixels());
        for (size_t i = 0; i < stack.pixels(); ++i)
            (*scaled)[i] = static_cast<float>(values[i] * unit);
        return static_cast<const float *>(scaled->data());
    };
    std::thread muWriter([&] {
        std::vector<float> scaled;
        XafsTiff::Writer muFile(out.filePath(stackFileName(layout.name, "mu", slice)));
        for (size_t k = 0; k < energies; ++k)
            muFile.addPage(stack.width, stack.height, first.x0, first.z0, pageText("xafs-mu", k),
                           inUnit(stack.page(k), &scaled));
        XafsTiff::Writer jumpFile(out.filePath(stackFileName(layout.name, "jump", slice)));
        jumpFile.addPage(stack.width, stack.height, first.x0, first.z0, description(jumpText),
                         inUnit(fits.jumpMap.data(), &scaled));
        XafsTiff::Writer e0File(out.filePath(stackFileName(layout.name, "e0", slice)));
        e0File.addPage(stack.width, stack.height, first.x0, first.z0, description(e0Text),
                       fits.e0Map.data());
        muWritten = muFile.commit() & jumpFile.commit() & e0File.commit();
    });
    XafsTiff::Writer normFile(out.filePath(stackFileName(layout.name, "norm", slice)));
    std::vector<float> &normalised = work->normalised;
    normalised.resize(stack.pixels());
    std::unique_ptr<XafsTiff::Writer> flatFile;
    std::vector<float> flat;
    if (settings.flatten) {
        flatFile.reset(
            new XafsTiff::Writer(out.filePath(stackFileName(layout.name, "flat", slice))));
        flat.resize(stack.pixels());
    }
    for (size_t k = 0; k < energies; ++k) {
        normalisedPage(stack.page(k), fits, grid[k], stack.pixels(), normalised.data());
        normFile.addPage(stack.width, stack.height, first.x0, first.z0, pageText("xafs-norm", k),
                         normalised.data());
        if (flatFile) {
            flatPage(normalised.data(), fits, grid[k], stack.pixels(), flat.data());
            flatFile->addPage(stack.width, stack.height, first.x0, first.z0,
                              pageText("xafs-flat", k), flat.data());
        }
    }
    const bool normWritten = normFile.commit() && (!flatFile || flatFile->commit());
    muWriter.join();
    const bool written = muWritten && normWritten;
    if (!written)
        qDebug() << "XAFS: slice not written" << slice;
    return written;
}

bool XafsBuilder::writeEnergies(const QMap<int, std::vector<XafsEnergyRow>> &rows) const
{
    const QString path = QDir(outputFolder()).filePath(energiesFileName(layout.name));
    SafeFile::Output file(path);
    if (!file.ok()) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    QTextStream text(file.device());
    text.setRealNumberPrecision(10);
    text << "index,energy_eV,tag,cor,slice,shift_x,shift_z\n";
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) {
        for (size_t k = 0; k < it.value().size(); ++k) {
            const XafsEnergyRow &r = it.value()[k];
            text << k << ',' << r.energy << ',' << Csv::field(r.tag) << ',' << r.cor << ','
                 << sliceNumberText(it.key()) << ',' << r.shiftX << ',' << r.shiftZ << '\n';
        }
    }
    text.flush();
    if (text.status() != QTextStream::Ok)
        file.fail(QStringLiteral("the text could not be written"));
    if (!file.commit()) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    return true;
}

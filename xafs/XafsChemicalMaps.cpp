#include "XafsChemicalMaps.h"

#include "util/Csv.h"
#include "util/SafeFile.h"
#include "util/TextFile.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsEdgeMaps.h"
#include "xafs/XafsHelperThread.h"
#include "xafs/XafsLcf.h"
#include "xafs/XafsSpectrum.h"
#include "xafs/XafsTiff.h"

#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

XafsStackView viewOf(const XafsSpectrum &stack)
{
    XafsStackView view;
    view.pixels = static_cast<size_t>(stack.width()) * static_cast<size_t>(stack.height());
    for (const XafsPage &p : stack.pages())
        view.pages.push_back(p.values.data());
    return view;
}

bool writeText(const QString &path, const QString &text)
{
    if (!SafeFile::writeBytes(path, text.toUtf8())) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    return true;
}

QString number(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 10) : QStringLiteral("nan");
}

struct Moments
{
    double sum = 0.0;
    double squares = 0.0;
    size_t count = 0;
    void add(double v)
    {
        if (!std::isfinite(v))
            return;
        sum += v;
        squares += v * v;
        ++count;
    }
    double mean() const { return count ? sum / static_cast<double>(count) : std::nan(""); }
    double deviation() const
    {
        if (!count)
            return std::nan("");
        const double m = mean();
        return std::sqrt(std::max(squares / static_cast<double>(count) - m * m, 0.0));
    }
};

// The scores of one voxel: its spectrum over the range times each component.
void scoresOf(const double *y, const XafsPca &pca, size_t dims, float *out)
{
    const size_t e = pca.components.empty() ? 0 : pca.components.front().size();
    for (size_t c = 0; c < dims; ++c) {
        double s = 0.0;
        for (size_t k = 0; k < e; ++k)
            s += y[k] * pca.components[c][k];
        out[c] = static_cast<float>(s);
    }
}

} // namespace

XafsChemicalMaps::XafsChemicalMaps(const QString &xafsFolder, const QString &dataName,
                                   const XafsMapSettings &s)
    : folder(xafsFolder)
    , name(dataName)
    , settings(s)
{
}

std::vector<double> XafsChemicalMaps::scanEnergies(const QString &xafsFolder,
                                                   const QString &dataName)
{
    QStringList lines;
    const QString file = QDir(xafsFolder).filePath(XafsBuilder::energiesFileName(dataName));
    std::vector<double> energies;
    if (TextFile::readLines(file, &lines) != TextFile::Read)
        return energies;
    // index,energy_eV,tag,cor,slice,...: the energies of the first slice listed.
    QString firstSlice;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines[i].split(QLatin1Char(','));
        if (fields.size() < 5)
            continue;
        if (firstSlice.isEmpty())
            firstSlice = fields[4];
        bool ok = false;
        const double e = fields[1].toDouble(&ok);
        if (fields[4] == firstSlice && ok && std::isfinite(e))
            energies.push_back(e);
    }
    return energies;
}

QStringList XafsChemicalMaps::uncovered(const XafsMapSettings &s, const std::vector<double> &grid)
{
    const std::vector<size_t> at = s.rangeIndices(grid);
    QStringList names;
    for (const XafsReference &r : s.references) {
        if (at.empty() || !r.covers(grid[at.front()], grid[at.back()]))
            names << r.name;
    }
    return names;
}

QStringList XafsChemicalMaps::slices() const
{
    return XafsBuilder::builtSlices(folder, name);
}

QString XafsChemicalMaps::path(const QString &kind, const QString &slice) const
{
    return QDir(folder).filePath(ResultLayout::fileName(name, kind, slice, QStringLiteral("tif")));
}

bool XafsChemicalMaps::load(const QString &slice, XafsSpectrum *stack) const
{
    return stack->load(path(QStringLiteral("norm"), slice));
}

bool XafsChemicalMaps::writeMap(const QString &kind, const QString &slice,
                                const XafsSpectrum &stack, const QString &what,
                                const std::vector<float> &values) const
{
    QJsonObject o{{"orvo2", QStringLiteral("xafs-") + what},
                  {"slice", slice.toInt()},
                  {"sum_to_one", settings.sumToOne},
                  {"white_line_window_eV", settings.whiteLineWindow}};
    if (std::isfinite(settings.fitFrom) && std::isfinite(settings.fitTo))
        o.insert("fit_range_eV", QJsonArray{settings.fitFrom, settings.fitTo});
    QJsonArray references;
    for (const XafsReference &r : settings.references)
        references.append(QJsonObject{{"name", r.name}, {"file", r.file}});
    o.insert("references", references);
    XafsTiff::Writer file(path(kind, slice));
    file.addPage(stack.width(), stack.height(), stack.x0(), stack.z0(),
                 QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)), values.data());
    if (!file.commit()) {
        qDebug() << "Can not write result file" << path(kind, slice);
        return false;
    }
    return true;
}

int XafsChemicalMaps::linearCombinationFit() const
{
    const QStringList built = slices();
    if (built.isEmpty()) {
        qDebug() << "XAFS: no built slice for" << name << folder;
        return 0;
    }
    if (settings.references.empty()) {
        qDebug() << "XAFS: no reference spectrum";
        return 0;
    }
    QString csv = QStringLiteral("slice,reference,mean_weight,sd_weight,mean_rfactor\n");
    int fitted = 0;
    for (const QString &slice : built) {
        XafsSpectrum stack;
        if (!load(slice, &stack))
            continue;
        const std::vector<double> &grid = stack.energies();
        const std::vector<size_t> at = settings.rangeIndices(grid);
        if (at.empty()) {
            qDebug() << "XAFS: no energy in the fit range" << settings.fitFrom << settings.fitTo;
            return 0;
        }
        const QStringList outside = uncovered(settings, grid);
        if (!outside.isEmpty()) {
            qDebug() << "XAFS: reference does not cover the fit range" << outside;
            return 0;
        }
        std::vector<double> range;
        for (size_t k : at)
            range.push_back(grid[k]);
        std::vector<std::vector<double>> references;
        for (const XafsReference &r : settings.references)
            references.push_back(r.onto(range));
        const XafsLcf lcf(references, settings.sumToOne);
        const XafsStackView view = viewOf(stack);
        std::vector<std::vector<float>> weights(references.size(), std::vector<float>(view.pixels));
        std::vector<float> rfactor(view.pixels);
        // The voxels are independent: two threads share them.
        const size_t half = view.pixels / 2;
        XafsHelperThread::share(
            [&] { lcf.fitRange(view, at, half, view.pixels, &weights, &rfactor); },
            [&] { lcf.fitRange(view, at, 0, half, &weights, &rfactor); });
        bool written = true;
        Moments r;
        for (float v : rfactor)
            r.add(v);
        for (size_t i = 0; i < references.size(); ++i) {
            const QString ref = settings.references[i].name;
            written =
                writeMap(QStringLiteral("lcf-") + ref, slice, stack, "lcf-weight", weights[i]) &&
                written;
            Moments w;
            for (float v : weights[i])
                w.add(v);
            csv += slice + ',' + Csv::field(ref) + ',' + number(w.mean()) + ',' +
                   number(w.deviation()) + ',' + number(r.mean()) + '\n';
        }
        written = writeMap(QStringLiteral("lcf-rfactor"), slice, stack, "lcf-rfactor", rfactor) &&
                  written;
        fitted += written ? 1 : 0;
    }
    if (fitted == 0 || !writeText(QDir(folder).filePath(name + QStringLiteral("-lcf.csv")), csv))
        return 0;
    qDebug() << "XAFS: fitted slices" << fitted;
    return fitted;
}

int XafsChemicalMaps::edgeMaps(int *unwritten) const
{
    int made = 0;
    for (const QString &slice : slices()) {
        XafsSpectrum stack;
        if (!load(slice, &stack))
            continue;
        const XafsStackView view = viewOf(stack);
        std::vector<float> e0(view.pixels);
        XafsPage info;
        if (!XafsTiff::readInto(path(QStringLiteral("e0"), slice), e0.data(), view.pixels, &info))
            continue;
        std::vector<float> edge, wlEnergy, wlHeight;
        XafsEdgeMaps::slice(view, stack.energies(), e0.data(), settings.whiteLineWindow, &edge,
                            &wlEnergy, &wlHeight);
        // All three are written even when one fails.
        const bool edgeWritten = writeMap(QStringLiteral("edge50"), slice, stack, "edge50", edge);
        const bool energyWritten =
            writeMap(QStringLiteral("wl-energy"), slice, stack, "wl-energy", wlEnergy);
        const bool heightWritten =
            writeMap(QStringLiteral("wl-height"), slice, stack, "wl-height", wlHeight);
        const bool written = edgeWritten && energyWritten && heightWritten;
        made += written ? 1 : 0;
        if (!written && unwritten)
            ++*unwritten;
    }
    return made;
}

std::vector<bool> XafsChemicalMaps::sample(const std::vector<size_t> &pixels) const
{
    size_t total = 0;
    for (size_t p : pixels)
        total += p;
    std::vector<bool> chosen(total, true);
    if (total <= XafsMapSettings::maxSample)
        return chosen;
    // Selection sampling (Knuth's algorithm S): each voxel in turn is taken with the
    // chance that leaves exactly maxSample taken at the end.
    XafsRandom random(XafsMapSettings::seed);
    size_t needed = XafsMapSettings::maxSample;
    for (size_t i = 0; i < total; ++i) {
        const double left = static_cast<double>(total - i);
        chosen[i] = needed > 0 && random.uniform() * left < static_cast<double>(needed);
        needed -= chosen[i] ? 1 : 0;
    }
    return chosen;
}

bool XafsChemicalMaps::principalComponents(XafsPca *pca) const
{
    *pca = XafsPca();
    const QStringList built = slices();
    if (built.isEmpty()) {
        qDebug() << "XAFS: no built slice for" << name << folder;
        return false;
    }
    std::vector<size_t> pixels;
    for (const QString &slice : built) {
        XafsPage info;
        pixels.push_back(XafsTiff::readInfo(path(QStringLiteral("norm"), slice), &info)
                             ? static_cast<size_t>(info.width) * static_cast<size_t>(info.height)
                             : 0);
    }
    const std::vector<bool> chosen = sample(pixels);
    std::vector<double> grid;
    std::vector<size_t> at;
    std::unique_ptr<XafsComponents> components;
    size_t offset = 0;
    constexpr size_t block = 64;
    for (int s = 0; s < built.size(); ++s) {
        XafsSpectrum stack;
        const size_t count = pixels[static_cast<size_t>(s)];
        if (count == 0 || !load(built[s], &stack)) {
            offset += count;
            continue;
        }
        if (!components) {
            grid = stack.energies();
            at = settings.rangeIndices(grid);
            std::vector<double> range;
            for (size_t k : at)
                range.push_back(grid[k]);
            components.reset(new XafsComponents(range));
        }
        if (stack.energies() != grid) {
            qDebug() << "XAFS: slice energies differ, left out" << built[s];
            offset += count;
            continue;
        }
        const XafsStackView view = viewOf(stack);
        const size_t e = at.size();
        std::vector<double> spectra(block * e), kept(block * e);
        const size_t limit = std::min(view.pixels, count);
        for (size_t from = 0; from < limit; from += block) {
            const size_t n = std::min(block, limit - from);
            view.gather(at, from, n, spectra.data());
            size_t used = 0;
            for (size_t j = 0; j < n; ++j) {
                const double *y = spectra.data() + j * e;
                if (chosen[offset + from + j] && usableSpectrum(y, e))
                    std::copy_n(y, e, kept.data() + (used++) * e);
            }
            components->add(kept.data(), used);
        }
        offset += count;
    }
    if (!components || at.empty() || components->voxels() == 0) {
        qDebug() << "XAFS: no valid voxel for the components";
        return false;
    }
    *pca = components->solve();
    if (pca->chosen < 1) {
        qDebug() << "XAFS: no valid voxel for the components";
        return false;
    }
    QString csv = QStringLiteral("component,singular_value,explained,ind");
    for (size_t k : at)
        csv += ',' + number(grid[k]);
    csv += '\n';
    for (size_t c = 0; c < pca->singular.size(); ++c) {
        csv += QString::number(c + 1) + ',' + number(pca->singular[c]) + ',' +
               number(pca->explained[c]) + ',' + number(pca->indicator[c]);
        for (double v : pca->components[c])
            csv += ',' + number(v);
        csv += '\n';
    }
    csv += QStringLiteral("chosen,") + QString::number(pca->chosen) + '\n';
    bool written = writeText(QDir(folder).filePath(name + QStringLiteral("-pca.csv")), csv);
    const size_t dims = static_cast<size_t>(pca->chosen);
    for (const QString &slice : built) {
        XafsSpectrum stack;
        if (!load(slice, &stack) || stack.energies() != grid)
            continue;
        const XafsStackView view = viewOf(stack);
        const size_t e = at.size();
        std::vector<std::vector<float>> maps(dims, std::vector<float>(view.pixels));
        std::vector<double> spectra(block * e);
        std::vector<float> scores(dims);
        for (size_t from = 0; from < view.pixels; from += block) {
            const size_t n = std::min(block, view.pixels - from);
            view.gather(at, from, n, spectra.data());
            for (size_t j = 0; j < n; ++j) {
                const double *y = spectra.data() + j * e;
                const bool usable = usableSpectrum(y, e);
                scoresOf(y, *pca, dims, scores.data());
                for (size_t c = 0; c < dims; ++c)
                    maps[c][from + j] = usable ? scores[c] : std::nanf("");
            }
        }
        for (size_t c = 0; c < dims; ++c)
            written = writeMap(QStringLiteral("pca-") + QString::number(c + 1), slice, stack,
                               "pca-score", maps[c]) &&
                      written;
    }
    return written;
}

bool XafsChemicalMaps::clusters(const XafsPca &pca, int k) const
{
    const QStringList built = slices();
    const size_t dims = static_cast<size_t>(std::max(pca.chosen, 0));
    if (built.isEmpty() || dims == 0 || pca.components.empty()) {
        qDebug() << "XAFS: no components to cluster" << name;
        return false;
    }
    const size_t e = pca.components.front().size();
    constexpr size_t block = 64;
    // The scores of every voxel of every slice (NaN where not valid), then k-means on
    // the valid ones of the sample.
    std::vector<std::vector<float>> scores;
    std::vector<size_t> pixels;
    std::vector<double> grid;
    for (const QString &slice : built) {
        XafsSpectrum stack;
        scores.emplace_back();
        if (!load(slice, &stack) || (!grid.empty() && stack.energies() != grid) ||
            settings.rangeIndices(stack.energies()).size() != e) {
            pixels.push_back(0);
            continue;
        }
        grid = stack.energies();
        const std::vector<size_t> at = settings.rangeIndices(grid);
        const XafsStackView view = viewOf(stack);
        std::vector<float> &s = scores.back();
        s.resize(view.pixels * dims);
        std::vector<double> spectra(block * e);
        for (size_t from = 0; from < view.pixels; from += block) {
            const size_t n = std::min(block, view.pixels - from);
            view.gather(at, from, n, spectra.data());
            for (size_t j = 0; j < n; ++j) {
                const double *y = spectra.data() + j * e;
                float *out = s.data() + (from + j) * dims;
                if (usableSpectrum(y, e))
                    scoresOf(y, pca, dims, out);
                else
                    std::fill_n(out, dims, std::nanf(""));
            }
        }
        pixels.push_back(view.pixels);
    }
    const std::vector<bool> chosen = sample(pixels);
    std::vector<float> points;
    size_t offset = 0;
    for (size_t s = 0; s < scores.size(); ++s) {
        for (size_t i = 0; i < pixels[s]; ++i) {
            const float *p = scores[s].data() + i * dims;
            if (chosen[offset + i] && std::isfinite(p[0]))
                points.insert(points.end(), p, p + dims);
        }
        offset += pixels[s];
    }
    if (points.empty()) {
        qDebug() << "XAFS: no valid voxel for the components";
        return false;
    }
    std::vector<double> centres;
    XafsKMeans::cluster(points, dims, k, XafsMapSettings::seed, 100, &centres);
    // Mean spectra over every energy of the scan, every voxel of the cluster.
    std::vector<double> sums(static_cast<size_t>(k) * grid.size(), 0.0);
    std::vector<size_t> members(static_cast<size_t>(k), 0);
    bool written = true;
    for (int s = 0; s < built.size(); ++s) {
        const size_t count = pixels[static_cast<size_t>(s)];
        XafsSpectrum stack;
        if (count == 0 || !load(built[s], &stack))
            continue;
        std::vector<float> map(count);
        for (size_t i = 0; i < count; ++i) {
            const float *p = scores[static_cast<size_t>(s)].data() + i * dims;
            if (!std::isfinite(p[0])) {
                map[i] = std::nanf("");
                continue;
            }
            const int c = XafsKMeans::nearest(p, dims, centres);
            map[i] = static_cast<float>(c + 1);
            ++members[static_cast<size_t>(c)];
            for (size_t g = 0; g < grid.size(); ++g)
                sums[static_cast<size_t>(c) * grid.size() + g] += stack.pages()[g].values[i];
        }
        written = writeMap(QStringLiteral("cluster"), built[s], stack, "cluster", map) && written;
    }
    QString csv = QStringLiteral("cluster,voxels");
    for (double energy : grid)
        csv += ',' + number(energy);
    csv += '\n';
    for (size_t c = 0; c < members.size(); ++c) {
        csv += QString::number(c + 1) + ',' + QString::number(members[c]);
        for (size_t g = 0; g < grid.size(); ++g)
            csv += ',' + number(members[c]
                                    ? sums[c * grid.size() + g] / static_cast<double>(members[c])
                                    : std::nan(""));
        csv += '\n';
    }
    return writeText(QDir(folder).filePath(name + QStringLiteral("-clusters.csv")), csv) && written;
}

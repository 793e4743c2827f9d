#include "XafsBuilder.h"

#include "ct/ResultLayout.h"
#include "imgdata/H5Writer.h"
#include "imgdata/MemoryBudget.h"
#include "util/Csv.h"
#include "util/SafeFile.h"
#include "xafs/XafsChemicalMaps.h"
#include "xafs/XafsHelperThread.h"
#include "xafs/XafsRecord.h"
#include "xafs/XafsRegister.h"
#include "xafs/XafsStack.h"
#include "xafs/XafsTiff.h"
#include "xafs/XafsVoxelFits.h"

#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <new>

namespace {

QString description(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
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
    return QDir(layout.folder).filePath(XafsResultSets::outputFolderName());
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

int XafsBuilder::build()
{
    int damagedInputs = 0, unusable = 0;
    found = XafsResultSets::fitToCommonRegion(XafsResultSets::find(layout, &damagedInputs), &region,
                                              &unusable);
    // A damaged result or record, or a set that can not be used, fails the build: the
    // spectra would lack its energy without a word in them.
    if (damagedInputs > 0) {
        qDebug() << "XAFS: build refused, damaged or unreadable results" << damagedInputs;
        found.clear();
        return 0;
    }
    if (unusable > 0) {
        qDebug() << "XAFS: build refused, sets that can not be used" << unusable;
        found.clear();
        return 0;
    }
    if (found.size() < 3) {
        qDebug() << "XAFS: fewer than 3 energies found for" << layout.name << layout.folder;
        return 0;
    }
    notBuilt.clear();
    // A slice missing or unreadable at some energy is one the build could not make.
    const QList<int> slices = XafsResultSets::completeSlices(found, &notBuilt);
    if (slices.isEmpty() || !QDir().mkpath(outputFolder())) {
        qDebug() << "XAFS: nothing to build in" << outputFolder();
        return 0;
    }
    QMap<int, std::vector<XafsEnergyRow>> rows;
    sliceRecords = QJsonArray();
    h5.reset();
    h5Ok = true;
    if (settings.writeH5)
        h5 = std::make_unique<H5Writer>(
            QDir(outputFolder()).filePath(layout.name + QStringLiteral("-xafs.h5")));
    for (int slice : slices) {
        std::vector<XafsEnergyRow> sliceRows;
        try {
            if (buildSlice(slice, &sliceRows)) {
                rows.insert(slice, sliceRows);
            } else {
                qDebug() << "XAFS: slice" << slice << "could not be built";
                notBuilt << slice;
            }
        } catch (const std::bad_alloc &) {
            // The slices built so far stay, but the build is not complete: no record.
            qDebug() << "XAFS: No memory for slice" << slice << "of" << layout.name;
            work.reset();
            h5.reset();
            return 0;
        }
    }
    if (rows.isEmpty() || !writeEnergies(rows) || !writeRecord(rows.keys()))
        return 0;
    // The edge position and white line of every voxel come with the stacks.
    if (withEdgeMaps) {
        int unwritten = 0;
        XafsChemicalMaps(outputFolder(), layout.name, edgeMapSettings).edgeMaps(&unwritten);
        if (unwritten > 0) {
            qDebug() << "XAFS: build failed, edge maps not written for" << unwritten << "slices";
            return 0;
        }
    }
    if (h5 && !(writeH5EdgeMaps(rows.keys()) &&
                commitH5(QDir(outputFolder()).filePath(XafsRecord::fileName(layout.name)))))
        return 0;
    QStringList built;
    for (int slice : rows.keys())
        built << QString::number(slice);
    qDebug().noquote() << "XAFS: built slices" << built.join(QStringLiteral(", "));
    return static_cast<int>(rows.size());
}

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
void alignEnergies(XafsStack *stack, size_t reference, std::vector<XafsEnergyRow> *rows)
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
    XafsHelperThread::share([&] { align(&second, half, stack->energies); },
                            [&] { align(&first, 0, half); });
}

} // namespace

struct XafsBuilder::Work
{
    XafsStack stack;
    XafsVoxelFits fits;
    std::vector<float> normalised;
    qint64 reserved = 0; // charged to the memory budget while the buffers are kept

    ~Work() { MemoryBudget::release(reserved); }
    bool reserve(qint64 bytes)
    {
        if (bytes <= reserved)
            return true;
        if (!MemoryBudget::reserve(bytes - reserved))
            return false;
        reserved = bytes;
        return true;
    }
};

qint64 XafsBuilder::sliceBytes() const
{
    const qint64 pixels = qint64(region.width) * region.height;
    qint64 largestSet = 0;
    for (const XafsResultSet &s : found)
        largestSet = std::max(largestSet, qint64(s.width) * s.height);
    const qint64 perVoxel = 4 * sizeof(double) + 2 * sizeof(unsigned char) + 2 * sizeof(float) +
                            sizeof(XafsVoxel) + (settings.flatten ? sizeof(XafsFlatCurve) : 0);
    qint64 pages = qint64(found.size()) + 1; // the stack and the normalised page
    pages += settings.flatten ? 1 : 0;
    pages += settings.unitFactor() != 1.0 ? 1 : 0;
    // Two reading threads with a whole result each (a set cut to the common region),
    // and two registrations with three complex images each.
    const qint64 reading = 2 * largestSet * qint64(sizeof(float));
    const qint64 registration =
        settings.registerEnergies ? 2 * 3 * pixels * qint64(sizeof(std::complex<double>)) : 0;
    return pixels * (pages * qint64(sizeof(float)) + perVoxel) + reading + registration;
}

bool XafsBuilder::buildSlice(int slice, std::vector<XafsEnergyRow> *rows)
{
    rows->clear();
    if (found.empty())
        return false;
    if (!work)
        work.reset(new Work);
    XafsStack &stack = work->stack;
    stack.width = region.width;
    stack.height = region.height;
    stack.energies = found.size();
    const size_t energies = stack.energies;
    // Every buffer of the slice is charged at once, before any is made: a build that
    // would pass the budget stops here rather than half way through a slice.
    const qint64 bytes = sliceBytes();
    if (!work->reserve(bytes)) {
        qDebug() << "XAFS: the buffers of a slice would pass the memory budget" << bytes
                 << "bytes, left" << MemoryBudget::limit() - MemoryBudget::used();
        throw std::bad_alloc();
    }
    if (!stack.values.allocate(energies * stack.pixels()))
        throw std::bad_alloc();
    // Reading is mostly the kernel copying file pages: two threads halve it.
    const size_t half = energies / 2;
    bool firstRead = false, secondRead = false;
    XafsHelperThread::share([&] { secondRead = stack.read(found, slice, half, energies); },
                            [&] { firstRead = stack.read(found, slice, 0, half); });
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
        alignEnergies(&stack, stack.edgeEnergy(normaliser), rows);
    stack.warnIfEdgeInRanges(normaliser, slice);
    XafsVoxelFits &fits = work->fits;
    fits.fit(stack, normaliser, settings.flatten);
    sliceRecords.append(fits.record(slice, normaliser));

    const QDir out(outputFolder());
    QJsonObject common{{"slice", slice},
                       {"x0", region.x0},
                       {"z0", region.z0},
                       {"x1", region.x0 + region.width},
                       {"z1", region.z0 + region.height},
                       {"n", region.n}};
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
    if (settings.minJumpPercent > 0.0)
        fitText.insert("min_jump_percent", settings.minJumpPercent);
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
    auto writeMu = [&] {
        std::vector<float> scaled;
        XafsTiff::Writer muFile(out.filePath(stackFileName(layout.name, "mu", slice)));
        for (size_t k = 0; k < energies; ++k)
            muFile.addPage(stack.width, stack.height, region.x0, region.z0, pageText("xafs-mu", k),
                           inUnit(stack.page(k), &scaled));
        XafsTiff::Writer jumpFile(out.filePath(stackFileName(layout.name, "jump", slice)));
        jumpFile.addPage(stack.width, stack.height, region.x0, region.z0, description(jumpText),
                         inUnit(fits.jumpMap.data(), &scaled));
        XafsTiff::Writer e0File(out.filePath(stackFileName(layout.name, "e0", slice)));
        e0File.addPage(stack.width, stack.height, region.x0, region.z0, description(e0Text),
                       fits.e0Map.data());
        // Every file is committed (or dropped), whatever became of the one before.
        const bool muCommitted = muFile.commit();
        const bool jumpCommitted = jumpFile.commit();
        const bool e0Committed = e0File.commit();
        muWritten = muCommitted && jumpCommitted && e0Committed;
    };
    bool normWritten = false;
    auto writeNormalised = [&] {
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
            fits.normalisedPage(stack.page(k), grid[k], normalised.data());
            normFile.addPage(stack.width, stack.height, region.x0, region.z0,
                             pageText("xafs-norm", k), normalised.data());
            if (flatFile) {
                fits.flatPage(normalised.data(), grid[k], flat.data());
                flatFile->addPage(stack.width, stack.height, region.x0, region.z0,
                                  pageText("xafs-flat", k), flat.data());
            }
        }
        normWritten = normFile.commit() && (!flatFile || flatFile->commit());
    };
    XafsHelperThread::share(writeMu, writeNormalised);
    const bool written = muWritten && normWritten;
    // After the threads: the HDF5 library is called from one thread only.
    if (written && h5)
        h5Ok = writeH5Slice(slice, grid) && h5Ok;
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

// The slice's stacks as the TIFFs hold them, [energy, 1, z, x] blocks of /mu and /norm.
bool XafsBuilder::writeH5Slice(int slice, const std::vector<double> &grid)
{
    const XafsStack &stack = work->stack;
    const size_t pixels = stack.pixels();
    const size_t energies = stack.energies;
    const qint64 bytes = qint64(energies * pixels * sizeof(float));
    if (!MemoryBudget::reserve(bytes)) {
        qDebug() << "XAFS: the HDF5 file's buffer would pass the memory budget" << bytes
                 << h5->path();
        return false;
    }
    struct Release
    {
        qint64 bytes;
        ~Release() { MemoryBudget::release(bytes); }
    } release{bytes};
    std::vector<float> block(energies * pixels);
    const double unit = settings.unitFactor();
    const float *mu = stack.page(0);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = unit == 1.0 ? mu[i] : static_cast<float>(mu[i] * unit);
    const std::vector<int> sizes{int(energies), 1, stack.height, stack.width};
    const std::vector<int> chunk{int(energies), 1, 16, 16};
    bool ok = h5->appendBlock("/mu", sizes, 1, chunk, block.data());
    for (size_t k = 0; k < energies; ++k)
        work->fits.normalisedPage(stack.page(k), grid[k], block.data() + k * pixels);
    ok = ok && h5->appendBlock("/norm", sizes, 1, chunk, block.data());
    const std::vector<int> map{1, stack.height, stack.width};
    std::vector<float> jump(work->fits.jumpMap);
    if (unit != 1.0)
        for (float &v : jump)
            v = static_cast<float>(v * unit);
    ok = ok && h5->appendBlock("/jump", map, 0, map, jump.data()) &&
         h5->appendBlock("/e0", map, 0, map, work->fits.e0Map.data()) &&
         h5->appendInt("/slice", slice);
    if (ok && h5->frames("/slice") == 1)
        ok = h5->writeDoubles("/energy_eV", grid);
    if (!ok)
        qDebug() << "XAFS: slice not written to" << h5->path() << slice;
    return ok;
}

// The edge maps as their TIFFs hold them, [slice, z, x] in the order of /slice.
bool XafsBuilder::writeH5EdgeMaps(const QList<int> &slices)
{
    if (!withEdgeMaps || !h5Ok)
        return true;
    const std::vector<int> map{1, region.height, region.width};
    for (int slice : slices) {
        for (const char *kind : {"edge50", "wl-energy", "wl-height"}) {
            std::vector<XafsPage> pages;
            const QString tif =
                QDir(outputFolder()).filePath(stackFileName(layout.name, kind, slice));
            const QByteArray dataset = QByteArray("/") + kind;
            if (!XafsTiff::readPages(tif, &pages) || pages.size() != 1 ||
                pages[0].values.size() != size_t(region.width) * size_t(region.height) ||
                !h5->appendBlock(dataset.constData(), map, 0, map, pages[0].values.data())) {
                qDebug() << "XAFS: edge map not written to" << h5->path() << tif;
                h5Ok = false;
                return false;
            }
        }
    }
    return true;
}

bool XafsBuilder::commitH5(const QString &recordPath)
{
    std::unique_ptr<H5Writer> file = std::move(h5);
    QByteArray record;
    if (SafeFile::readAll(recordPath, 16 * 1024 * 1024, &record) != SafeFile::Read)
        qDebug() << "XAFS: record not read back for the HDF5 file" << recordPath;
    const std::vector<double> bounds{double(region.x0), double(region.z0),
                                     double(region.x0 + region.width),
                                     double(region.z0 + region.height)};
    const bool ok = h5Ok && !record.isEmpty() && file->setAttribute("/mu", "region", bounds) &&
                    file->setAttribute("/mu", "n", std::vector<double>{double(region.n)}) &&
                    file->setAttribute("/mu", "unit", settings.unitName()) &&
                    file->setAttribute("/", "record", QString::fromUtf8(record)) && file->commit();
    if (!ok)
        qDebug() << "XAFS: build failed, HDF5 file not written" << file->path();
    return ok;
}

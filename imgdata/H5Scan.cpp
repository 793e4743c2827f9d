#include "H5Scan.h"

#include "H5Objects.h"
#include "ImgDataH5.h"
#include "MemoryBudget.h"

#include <QDebug>
#include <QFileInfo>

#include <hdf5.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

using namespace H5Objects;

// More frames than any scan holds: a dataset of empty chunks may claim
// billions of them, and the frame lists are sized by that count.
constexpr hsize_t kMaxFrames = 1u << 20;

// Which frames of one dataset make up projections, flats or darks. A dataset of
// rank 0 gives one constant value instead of frames.
struct FrameSource
{
    hid_t dataset = -1;
    std::vector<hsize_t> frames;
    bool constant = false;
    double value = 0.0;
    bool present() const { return constant || !frames.empty(); }
};

// The file's datasets as one scan, before anything large is read.
struct ScanPlan
{
    std::vector<Handle> open;
    FrameSource projections;
    FrameSource flats;
    FrameSource darks;
    std::vector<double> angles;
    Handle energy;
    int width = 0;
    int height = 0;
    Kind kind = Kind::None;
};

class Reader
{
public:
    Reader(const QString &fileName, H5Scan::Reduce reduce)
        : name(fileName)
        , reduce(reduce)
    {
    }

    bool refuse(const char *text, const QString &detail = QString()) const
    {
        if (detail.isEmpty())
            qDebug() << text << name;
        else
            qDebug() << text << detail << name;
        return false;
    }

    // The data's frames are [frame, row, column]; its type and filters usable.
    bool checkFrames(hid_t dataset, const QString &path, std::vector<hsize_t> *dims)
    {
        const QString filter = missingFilter(dataset);
        if (!filter.isEmpty()) {
            qDebug().noquote()
                << QStringLiteral("HDF5 filter not available : %1 : %2").arg(filter, name);
            return false;
        }
        if (!shapeOf(dataset, dims) || dims->size() != 3)
            return refuse("HDF5 dataset is not a stack of frames (rank 3)", path);
        if (kindOf(dataset) == Kind::None)
            return refuse("HDF5 dataset type is not a number type", path);
        const hsize_t frames = (*dims)[0], rows = (*dims)[1], columns = (*dims)[2];
        if (frames < 1 || rows < 1 || columns < 1 || rows > INT_MAX || columns > INT_MAX ||
            frames > kMaxFrames)
            return refuse("HDF5 dataset has no frames or too large dimensions", path);
        qint64 bytes = 0;
        if (__builtin_mul_overflow(qint64(rows), qint64(columns), &bytes) ||
            __builtin_mul_overflow(bytes, qint64(frames), &bytes) ||
            __builtin_mul_overflow(bytes, qint64(8), &bytes))
            return refuse("HDF5 dataset size overflows", path);
        return true;
    }

    // Flats or darks in a dataset of their own: frames of the data's size, one
    // frame of rank 2, or a constant of rank 0.
    bool sideSource(hid_t dataset, const QString &path, const ScanPlan &plan, FrameSource *source)
    {
        source->dataset = dataset;
        std::vector<hsize_t> dims;
        if (!missingFilter(dataset).isEmpty() || !shapeOf(dataset, &dims))
            return checkFrames(dataset, path, &dims);
        if (dims.empty()) {
            std::vector<double> value;
            if (!readNumbers(dataset, 1, &value) || !std::isfinite(value[0]))
                return refuse("HDF5 constant is not a number", path);
            source->constant = true;
            source->value = value[0];
            return true;
        }
        if (dims.size() == 2)
            dims.insert(dims.begin(), 1);
        if (dims.size() != 3 || kindOf(dataset) == Kind::None)
            return refuse("HDF5 dataset is not a stack of frames (rank 3)", path);
        if (dims[1] != hsize_t(plan.height) || dims[2] != hsize_t(plan.width))
            return refuse("HDF5 flats or darks differ in size from the projections", path);
        if (dims[0] > kMaxFrames)
            return refuse("HDF5 dataset has no frames or too large dimensions", path);
        for (hsize_t i = 0; i < dims[0]; ++i)
            source->frames.push_back(i);
        return true;
    }

    // The first NXentry whose definition is NXtomo; none when the file has none.
    Handle nxtomoEntry(hid_t file) const
    {
        for (const QString &group : rootGroups(file)) {
            Handle g(H5Gopen2(file, group.toUtf8().constData(), H5P_DEFAULT), H5Gclose);
            if (!g || attributeText(g.id(), "NX_class") != QLatin1String("NXentry"))
                continue;
            Handle definition = openDataset(g.id(), QStringLiteral("definition"));
            if (definition && datasetText(definition.id()).trimmed() == QLatin1String("NXtomo"))
                return g;
        }
        return Handle();
    }

    Handle nxtomoEnergy(hid_t entry) const
    {
        return firstDataset(entry, {"instrument/beam/incident_energy", "beam/incident_energy",
                                    "instrument/beam/energy", "energy"});
    }

    bool planNxtomo(hid_t file, ScanPlan *plan, bool *found)
    {
        Handle g = nxtomoEntry(file);
        const hid_t entry = g ? g.id() : -1;
        if (g)
            plan->open.push_back(std::move(g));
        *found = entry >= 0;
        if (!*found)
            return false;
        Handle data = firstDataset(entry, {"instrument/detector/data", "data/data"});
        if (!data)
            return refuse("HDF5 NXtomo entry without data");
        std::vector<hsize_t> dims;
        if (!checkFrames(data.id(), QStringLiteral("data"), &dims))
            return false;
        Handle keys = firstDataset(entry, {"instrument/detector/image_key", "data/image_key",
                                           "instrument/detector/image_key_control",
                                           "data/image_key_control"});
        std::vector<double> key;
        if (keys && !readNumbers(keys.id(), dims[0], &key))
            return refuse("HDF5 image_key is not one number per frame");
        if (!keys)
            key.assign(static_cast<size_t>(dims[0]), 0.0);
        if (key.size() != dims[0])
            return refuse("HDF5 image_key is not one number per frame");
        std::vector<double> angles;
        Handle angleSet = firstDataset(entry, {"sample/rotation_angle", "data/rotation_angle"});
        if (angleSet && (!readNumbers(angleSet.id(), dims[0], &angles) || angles.size() != dims[0]))
            return refuse("HDF5 angles are not one number per frame");
        setFrames(plan, data.id(), dims);
        for (hsize_t i = 0; i < dims[0]; ++i) {
            const double k = key[static_cast<size_t>(i)];
            FrameSource *to = k == 0   ? &plan->projections
                              : k == 1 ? &plan->flats
                              : k == 2 ? &plan->darks
                                       : nullptr;
            if (!to)
                continue;
            to->frames.push_back(i);
            if (k == 0 && angleSet)
                plan->angles.push_back(angles[static_cast<size_t>(i)]);
        }
        plan->flats.dataset = plan->darks.dataset = data.id();
        plan->open.push_back(std::move(data));
        plan->energy = nxtomoEnergy(entry);
        return true;
    }

    // Data exchange, or the user's paths: a dataset each.
    bool planSeparate(hid_t file, const H5Paths &paths, ScanPlan *plan)
    {
        Handle data = openDataset(file, paths.data);
        if (!data)
            return refuse("HDF5 data set not found", paths.data);
        std::vector<hsize_t> dims;
        if (!checkFrames(data.id(), paths.data, &dims))
            return false;
        setFrames(plan, data.id(), dims);
        for (hsize_t i = 0; i < dims[0]; ++i)
            plan->projections.frames.push_back(i);
        plan->open.push_back(std::move(data));
        for (auto [path, source] :
             {std::make_pair(paths.flat, &plan->flats), std::make_pair(paths.dark, &plan->darks)}) {
            Handle side = openDataset(file, path);
            if (side && !sideSource(side.id(), path, *plan, source))
                return false;
            plan->open.push_back(std::move(side));
        }
        if (Handle angleSet = openDataset(file, paths.angles)) {
            if (!readNumbers(angleSet.id(), dims[0], &plan->angles) ||
                plan->angles.size() != dims[0])
                return refuse("HDF5 angles are not one number per frame");
        } else if (!paths.angles.isEmpty() && paths.angles != QLatin1String("-")) {
            return refuse("HDF5 data set not found", paths.angles);
        }
        plan->energy = openDataset(file, paths.energy);
        return true;
    }

    bool readScan(const ScanPlan &plan, H5Scan *scan)
    {
        const qint64 frameBytes =
            qint64(plan.width) * plan.height * ImgDataH5::bytesPerSample(plan.kind);
        const qint64 reduced = qint64(plan.width) * plan.height * qint64(sizeof(double));
        const qint64 medianBytes =
            reduce == H5Scan::Reduce::Median
                ? reduced * qint64(std::max(plan.flats.frames.size(), plan.darks.frames.size()))
                : reduced;
        const qint64 needed =
            frameBytes * qint64(plan.projections.frames.size()) + 2 * reduced + medianBytes;
        if (needed > MemoryBudget::limit() - MemoryBudget::used())
            return refuse("HDF5 scan exceeds the memory budget",
                          QStringLiteral("%1 bytes needed, %2 of %3 bytes in use")
                              .arg(needed)
                              .arg(MemoryBudget::used())
                              .arg(MemoryBudget::limit()));
        for (hsize_t frame : plan.projections.frames) {
            auto img = std::make_unique<ImgDataH5>();
            if (!img->allocate(name, plan.width, plan.height, plan.kind) ||
                !readFrame(plan.projections.dataset, frame, plan, plan.kind, img->data()))
                return refuse("Can not read HDF5 frame", QString::number(frame));
            img->isOk = true;
            scan->projections.push_back(std::move(img));
        }
        return reduceFrames(plan.flats, plan, &scan->flat) &&
               reduceFrames(plan.darks, plan, &scan->dark);
    }

    QStringList rootGroups(hid_t file) const
    {
        QStringList names;
        H5Literate(
            file, H5_INDEX_NAME, H5_ITER_INC, nullptr,
            [](hid_t, const char *linkName, const H5L_info_t *, void *to) -> herr_t {
                auto *list = static_cast<QStringList *>(to);
                list->append(QString::fromUtf8(linkName));
                // A file with a vast root is not looked through to its end.
                return list->size() >= 4096 ? 1 : 0;
            },
            &names);
        return names;
    }

    Handle firstDataset(hid_t group, std::initializer_list<const char *> paths) const
    {
        for (const char *path : paths)
            if (Handle dataset = openDataset(group, QString::fromLatin1(path)))
                return dataset;
        return Handle();
    }

private:
    void setFrames(ScanPlan *plan, hid_t data, const std::vector<hsize_t> &dims) const
    {
        plan->projections.dataset = data;
        plan->height = static_cast<int>(dims[1]);
        plan->width = static_cast<int>(dims[2]);
        plan->kind = kindOf(data);
    }

    // Frame `frame` of a dataset of rank 3 (or the whole of one of rank 2) into `to`.
    bool readFrame(hid_t dataset, hsize_t frame, const ScanPlan &plan, Kind kind, void *to) const
    {
        Handle fileSpace(H5Dget_space(dataset), H5Sclose);
        const hsize_t rows = hsize_t(plan.height), columns = hsize_t(plan.width);
        if (H5Sget_simple_extent_ndims(fileSpace.id()) == 3) {
            const hsize_t start[3] = {frame, 0, 0};
            const hsize_t count[3] = {1, rows, columns};
            if (H5Sselect_hyperslab(fileSpace.id(), H5S_SELECT_SET, start, nullptr, count,
                                    nullptr) < 0)
                return false;
        }
        const hsize_t memoryDims[2] = {rows, columns};
        Handle memorySpace(H5Screate_simple(2, memoryDims, nullptr), H5Sclose);
        return H5Dread(dataset, memoryType(kind), memorySpace.id(), fileSpace.id(), H5P_DEFAULT,
                       to) >= 0;
    }

    // The flats (or darks) as one image of doubles: each pixel's mean, or its
    // median (of an even count, the mean of the two middle values).
    bool reduceFrames(const FrameSource &source, const ScanPlan &plan,
                      std::unique_ptr<ImgData> *out)
    {
        auto img = std::make_unique<ImgDataH5>();
        if (!img->allocate(name, plan.width, plan.height, Kind::F64))
            return false;
        auto *result = reinterpret_cast<double *>(img->data());
        const size_t pixels = size_t(plan.width) * size_t(plan.height);
        if (source.constant) {
            std::fill(result, result + pixels, source.value);
        } else if (reduce == H5Scan::Reduce::Mean || source.frames.size() < 3) {
            std::fill(result, result + pixels, 0.0);
            ImgDataH5 frame;
            if (!frame.allocate(name, plan.width, plan.height, Kind::F64))
                return false;
            auto *values = reinterpret_cast<const double *>(frame.data());
            for (hsize_t k : source.frames) {
                if (!readFrame(source.dataset, k, plan, Kind::F64, frame.data()))
                    return refuse("Can not read HDF5 frame", QString::number(k));
                for (size_t i = 0; i < pixels; ++i)
                    result[i] += values[i];
            }
            for (size_t i = 0; i < pixels; ++i)
                result[i] /= double(source.frames.size());
        } else if (!medianOf(source, plan, result)) {
            return false;
        }
        img->isOk = true;
        *out = std::move(img);
        return true;
    }

    bool medianOf(const FrameSource &source, const ScanPlan &plan, double *result)
    {
        const size_t n = source.frames.size();
        const size_t pixels = size_t(plan.width) * size_t(plan.height);
        ImgDataH5 all;
        if (!all.allocate(name, plan.width, plan.height * int(n), Kind::F64))
            return false;
        auto *values = reinterpret_cast<double *>(all.data());
        for (size_t k = 0; k < n; ++k)
            if (!readFrame(source.dataset, source.frames[k], plan, Kind::F64, values + k * pixels))
                return refuse("Can not read HDF5 frame", QString::number(source.frames[k]));
        std::vector<double> pixel(n);
        for (size_t i = 0; i < pixels; ++i) {
            for (size_t k = 0; k < n; ++k)
                pixel[k] = values[k * pixels + i];
            std::sort(pixel.begin(), pixel.end());
            result[i] = n % 2 ? pixel[n / 2] : (pixel[n / 2 - 1] + pixel[n / 2]) / 2.0;
        }
        return true;
    }

    QString name;
    H5Scan::Reduce reduce;
};

} // namespace

bool H5Paths::fromArguments(const QStringList &arguments, H5Paths *paths)
{
    if (arguments.isEmpty()) {
        *paths = H5Paths();
        return true;
    }
    if (arguments.size() < 4)
        return false;
    auto path = [&](int i) {
        const QString p = i < arguments.size() ? arguments[i] : QString();
        return p == QLatin1String("-") ? QString() : p;
    };
    if (path(0).isEmpty())
        return false;
    *paths = H5Paths{path(0), path(1), path(2), path(3), path(4)};
    return true;
}

H5Scan::H5Scan() = default;

H5Scan::~H5Scan() = default;

void H5Scan::reset()
{
    layout.clear();
    projections.clear();
    flat.reset();
    dark.reset();
    anglesDeg.clear();
    energyEV = 0.0;
}

bool H5Scan::isH5Name(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("h5") || suffix == QLatin1String("hdf5") ||
           suffix == QLatin1String("nxs");
}

double H5Scan::energyOfFile(const QString &fileName, const H5Paths &paths)
{
    silenceLibrary();
    const QByteArray name = fileName.toUtf8();
    if (!QFileInfo(fileName).isFile() || H5Fis_hdf5(name.constData()) <= 0)
        return 0.0;
    Handle file(H5Fopen(name.constData(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (!file)
        return 0.0;
    if (paths.isSet())
        return energyInEV(openDataset(file.id(), paths.energy).id());
    const Reader reader(fileName, Reduce::Mean);
    const Handle entry = reader.nxtomoEntry(file.id());
    return entry ? energyInEV(reader.nxtomoEnergy(entry.id()).id()) : 0.0;
}

int H5Scan::firstNonUniformAngle(const std::vector<double> &degrees)
{
    const double step = 180.0 / double(degrees.size());
    for (size_t i = 0; i < degrees.size(); ++i)
        if (!(std::fabs(degrees[i] - double(i) * step) <= 0.01))
            return static_cast<int>(i);
    return -1;
}

bool H5Scan::load(const QString &fileName, const H5Paths &paths, Reduce reduce)
{
    reset();
    silenceLibrary();
    Reader reader(fileName, reduce);
    const QFileInfo info(fileName);
    if (!info.isFile())
        return reader.refuse("HDF5 file is not a regular file");
    if (H5Fis_hdf5(fileName.toUtf8().constData()) <= 0)
        return reader.refuse("Not an HDF5 file");
    Handle file(H5Fopen(fileName.toUtf8().constData(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (!file)
        return reader.refuse("Can not open HDF5 file");
    ScanPlan plan;
    bool ok = false;
    if (paths.isSet()) {
        layout = QStringLiteral("paths");
        ok = reader.planSeparate(file.id(), paths, &plan);
    } else {
        bool nxtomo = false;
        ok = reader.planNxtomo(file.id(), &plan, &nxtomo);
        layout = QStringLiteral("NXtomo");
        if (!nxtomo && openDataset(file.id(), QStringLiteral("/exchange/data"))) {
            layout = QStringLiteral("data-exchange");
            const H5Paths exchange{"/exchange/data", "/exchange/data_white", "/exchange/data_dark",
                                   "/exchange/theta", QString()};
            ok = reader.planSeparate(file.id(), exchange, &plan);
        } else if (!nxtomo) {
            reset();
            return reader.refuse("HDF5 layout not recognised (name its datasets with h5_paths)");
        }
    }
    if (ok && plan.projections.frames.empty())
        ok = reader.refuse("HDF5 file has no projections");
    else if (ok && !plan.flats.present())
        ok = reader.refuse("HDF5 file has no flats");
    else if (ok && !plan.darks.present())
        ok = reader.refuse("HDF5 file has no darks");
    // Any other angles are back projected as they are (ScanGeometry), so they must
    // be numbers.
    const auto notFinite = std::find_if(plan.angles.begin(), plan.angles.end(),
                                        [](double a) { return !std::isfinite(a); });
    if (ok && notFinite != plan.angles.end())
        ok = reader.refuse("HDF5 projection angle is not a finite number",
                           QStringLiteral("projection %1").arg(notFinite - plan.angles.begin()));
    if (ok)
        ok = reader.readScan(plan, this);
    if (!ok) {
        reset();
        return false;
    }
    anglesDeg = plan.angles;
    energyEV = energyInEV(plan.energy.id());
    return true;
}

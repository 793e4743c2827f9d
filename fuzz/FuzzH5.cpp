// The HDF5 scan reader's own checks: every input describes a file valid in
// structure (so libhdf5's parser is not what is fuzzed) with shapes, types,
// attributes and layouts taken from the input's bytes, written with the C API
// and then loaded as a scan.
#include "FuzzInput.h"
#include "imgdata/H5Scan.h"
#include "imgdata/ImgData.h"
#include "imgdata/MemoryBudget.h"

#include <hdf5.h>

#include <algorithm>
#include <vector>

namespace {

// The input's bytes, and dataset dimensions drawn from them.
class Bytes : public FuzzInput::Bytes
{
public:
    using FuzzInput::Bytes::Bytes;
    // A dimension: mostly small, sometimes 0 or far beyond any budget.
    hsize_t dimension()
    {
        const unsigned b = next();
        if (b == 255)
            return hsize_t(1) << (20 + next() % 24);
        return b % 9;
    }
};

hid_t typeOf(unsigned code)
{
    static const hid_t types[] = {H5T_NATIVE_UINT8, H5T_NATIVE_INT8,   H5T_NATIVE_UINT16,
                                  H5T_NATIVE_INT16, H5T_NATIVE_UINT32, H5T_NATIVE_INT32,
                                  H5T_NATIVE_INT64, H5T_NATIVE_FLOAT,  H5T_NATIVE_DOUBLE,
                                  H5T_STD_U16BE,    H5T_IEEE_F64BE,    H5T_C_S1};
    return types[code % (sizeof types / sizeof types[0])];
}

// A dataset of the input's rank, shape and type; its values from the input
// when it is small, else left to the fill value (chunked, nothing stored).
void dataset(hid_t loc, const char *name, Bytes &in)
{
    const int rank = int(in.next() % 5);
    std::vector<hsize_t> dims(static_cast<size_t>(rank));
    hsize_t count = 1;
    bool huge = false;
    for (hsize_t &d : dims) {
        d = in.dimension();
        huge = huge || d > 4096 || (d > 0 && count > 4096 / d);
        count = huge ? count : count * d;
    }
    const hid_t type = typeOf(in.next());
    const hid_t fileType = H5Tcopy(type);
    if (type == H5T_C_S1)
        H5Tset_size(fileType, 1 + in.next() % 8);
    const hid_t space = H5Screate_simple(rank, dims.data(), nullptr);
    const hid_t plist = H5Pcreate(H5P_DATASET_CREATE);
    const unsigned filters = in.next();
    if (rank > 0 && (huge || filters % 2)) {
        std::vector<hsize_t> chunk(dims.size());
        for (size_t i = 0; i < dims.size(); ++i)
            chunk[i] = std::max<hsize_t>(1, std::min<hsize_t>(dims[i], 4));
        H5Pset_chunk(plist, rank, chunk.data());
        if (filters & 2)
            H5Pset_shuffle(plist);
        if (filters & 4)
            H5Pset_deflate(plist, 1);
    }
    const hid_t set = H5Dcreate2(loc, name, fileType, space, H5P_DEFAULT, plist, H5P_DEFAULT);
    if (set >= 0 && !huge && type != H5T_C_S1) {
        std::vector<double> values(static_cast<size_t>(count));
        for (double &v : values)
            v = in.next() * (in.next() % 3 ? 1.0 : 0.5);
        H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
    }
    if (set >= 0)
        H5Dclose(set);
    H5Pclose(plist);
    H5Sclose(space);
    H5Tclose(fileType);
}

void text(hid_t loc, const char *name, const char *value, bool attribute)
{
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, H5T_VARIABLE);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t object =
        attribute ? H5Acreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT)
                  : H5Dcreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (object >= 0) {
        attribute ? H5Awrite(object, type, &value)
                  : H5Dwrite(object, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, &value);
        attribute ? H5Aclose(object) : H5Dclose(object);
    }
    H5Sclose(space);
    H5Tclose(type);
}

hid_t groups(hid_t file, const char *path)
{
    const hid_t plist = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(plist, 1);
    const hid_t group = H5Gcreate2(file, path, plist, H5P_DEFAULT, H5P_DEFAULT);
    H5Pclose(plist);
    return group;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(FuzzInput::quietMessages);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    MemoryBudget::setLimit(256 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Bytes in(data, size);
    const QString name = FuzzInput::path("h5");
    const hid_t file =
        H5Fcreate(name.toUtf8().constData(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return 0;
    const unsigned layout = in.next() % 3;
    H5Paths paths;
    if (layout == 0) {
        const hid_t entry = groups(file, "entry");
        text(entry, "NX_class", in.next() % 4 ? "NXentry" : "NXdata", true);
        text(entry, "definition", in.next() % 4 ? "NXtomo" : "NXmx", false);
        const hid_t detector = groups(entry, "instrument/detector");
        dataset(detector, "data", in);
        if (in.next() % 4)
            dataset(detector, in.next() % 2 ? "image_key" : "image_key_control", in);
        const hid_t sample = groups(entry, "sample");
        if (in.next() % 4)
            dataset(sample, "rotation_angle", in);
        const hid_t beam = groups(entry, "instrument/beam");
        dataset(beam, "incident_energy", in);
        for (hid_t g : {beam, sample, detector, entry})
            H5Gclose(g);
    } else {
        const hid_t exchange = groups(file, "exchange");
        for (const char *set : {"data", "data_white", "data_dark", "theta"})
            if (in.next() % 5)
                dataset(exchange, set, in);
        H5Gclose(exchange);
        if (layout == 2)
            paths = H5Paths{"/exchange/data", "/exchange/data_white", "/exchange/data_dark",
                            "/exchange/theta", "/exchange/data_dark"};
    }
    H5Fclose(file);
    H5Scan scan;
    if (scan.load(name, paths, in.next() % 2 ? H5Scan::Reduce::Median : H5Scan::Reduce::Mean)) {
        std::vector<double> row(size_t(scan.projections.front()->width));
        for (const auto &frame : scan.projections)
            frame->getLine(frame->height - 1, row.data());
        scan.flat->getLine(0, row.data());
        scan.dark->getLine(0, row.data());
    }
    return 0;
}

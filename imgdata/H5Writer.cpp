#include "H5Writer.h"

#include "util/SafeFile.h"

#include <QByteArray>
#include <QDebug>
#include <QMap>

#include <hdf5.h>

#include <algorithm>

namespace {

// Parent groups of `name` are made as the dataset is.
hid_t groupMaker()
{
    const hid_t list = H5Pcreate(H5P_LINK_CREATE);
    if (list >= 0 && H5Pset_create_intermediate_group(list, 1) < 0) {
        H5Pclose(list);
        return -1;
    }
    return list;
}

} // namespace

struct H5Writer::State
{
    explicit State(const QString &path)
        : out(path)
    {
    }
    SafeFile::Output out;
    hid_t file = -1;
    bool failed = false;
    // Frames appended to each growing dataset.
    QMap<QByteArray, hsize_t> counts;
};

H5Writer::H5Writer(const QString &path)
    : state(new State(path))
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    if (!state->out.ok()) {
        state->failed = true;
        return;
    }
    // The fault switch of the tests (SafeFile::setFailingWrites): a full disk.
    if (state->out.descriptor() < 0) {
        fail("writes fail (full disk)");
        return;
    }
    state->file = H5Fcreate(state->out.temporaryPath().toUtf8().constData(), H5F_ACC_TRUNC,
                            H5P_DEFAULT, H5P_DEFAULT);
    if (state->file < 0)
        fail("can not create");
}

H5Writer::~H5Writer()
{
    // The Output removes the temporary file unless committed.
    if (state->file >= 0)
        H5Fclose(state->file);
}

bool H5Writer::ok() const
{
    return !state->failed;
}

const QString &H5Writer::path() const
{
    return state->out.path();
}

bool H5Writer::fail(const char *what)
{
    if (!state->failed)
        qDebug() << "HDF5 result not written :" << what << ":" << path();
    state->failed = true;
    return false;
}

int H5Writer::frames(const char *name) const
{
    return int(state->counts.value(QByteArray(name), 0));
}

namespace {

// Extends the growing dataset `set` of `rank` by one along its first axis and
// writes `values` (one frame of dims[1..]) there.
bool appendTo(hid_t set, int rank, const hsize_t *frameDims, hsize_t at, hid_t memType,
              const void *values)
{
    hsize_t size[3] = {at + 1, rank > 1 ? frameDims[1] : 0, rank > 2 ? frameDims[2] : 0};
    if (H5Dset_extent(set, size) < 0)
        return false;
    const hid_t space = H5Dget_space(set);
    if (space < 0)
        return false;
    hsize_t start[3] = {at, 0, 0};
    hsize_t count[3] = {1, size[1], size[2]};
    bool ok = H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0;
    const hid_t memory = ok ? H5Screate_simple(rank, count, nullptr) : -1;
    ok = ok && memory >= 0 && H5Dwrite(set, memType, memory, space, H5P_DEFAULT, values) >= 0;
    if (memory >= 0)
        H5Sclose(memory);
    H5Sclose(space);
    return ok;
}

// The growing dataset `name` of `rank` whose frames are dims[1..], made when new.
hid_t growingSet(hid_t file, const char *name, int rank, const hsize_t *frameDims, hid_t fileType,
                 bool isNew)
{
    if (!isNew)
        return H5Dopen2(file, name, H5P_DEFAULT);
    hsize_t initial[3] = {0, frameDims[1], frameDims[2]};
    hsize_t maximum[3] = {H5S_UNLIMITED, frameDims[1], frameDims[2]};
    hsize_t chunk[3] = {1, rank > 1 ? frameDims[1] : 1, rank > 2 ? frameDims[2] : 1};
    if (rank == 1)
        chunk[0] = 1024;
    const hid_t space = H5Screate_simple(rank, initial, maximum);
    const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
    const hid_t links = groupMaker();
    hid_t set = -1;
    if (space >= 0 && create >= 0 && links >= 0 && H5Pset_chunk(create, rank, chunk) >= 0)
        set = H5Dcreate2(file, name, fileType, space, links, create, H5P_DEFAULT);
    for (hid_t id : {links, create})
        if (id >= 0)
            H5Pclose(id);
    if (space >= 0)
        H5Sclose(space);
    return set;
}

} // namespace

bool H5Writer::appendFrame(const char *name, int rows, int columns, const float *values)
{
    return appendBlock(name, {1, rows, columns}, 0, {1, rows, columns}, values);
}

bool H5Writer::appendInt(const char *name, int value)
{
    if (state->failed)
        return false;
    const QByteArray key(name);
    const bool isNew = !state->counts.contains(key);
    const hsize_t frame[3] = {0, 0, 0};
    const hid_t set = growingSet(state->file, name, 1, frame, H5T_STD_I32LE, isNew);
    if (set < 0)
        return fail("can not make the dataset");
    const bool ok = appendTo(set, 1, frame, state->counts.value(key, 0), H5T_NATIVE_INT, &value);
    H5Dclose(set);
    if (!ok)
        return fail("write failed");
    state->counts[key] += 1;
    return true;
}

bool H5Writer::appendBlock(const char *name, const std::vector<int> &block, int grow,
                           const std::vector<int> &chunk, const float *values)
{
    if (state->failed)
        return false;
    const int rank = int(block.size());
    if (rank < 2 || rank > 4 || grow < 0 || grow >= rank || int(chunk.size()) != rank)
        return fail("block of an unusable rank");
    hsize_t count[4], maximum[4], chunks[4], start[4] = {0, 0, 0, 0}, extent[4];
    for (int i = 0; i < rank; ++i) {
        if (block[i] < 1 || chunk[i] < 1)
            return fail("empty block");
        count[i] = hsize_t(block[i]);
        maximum[i] = i == grow ? H5S_UNLIMITED : count[i];
        chunks[i] = hsize_t(std::min(chunk[i], block[i]));
        extent[i] = count[i];
    }
    const QByteArray key(name);
    const bool isNew = !state->counts.contains(key);
    const hsize_t at = state->counts.value(key, 0);
    hid_t set = -1;
    if (isNew) {
        extent[grow] = 0;
        const hid_t space = H5Screate_simple(rank, extent, maximum);
        const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
        const hid_t links = groupMaker();
        if (space >= 0 && create >= 0 && links >= 0 && H5Pset_chunk(create, rank, chunks) >= 0)
            set = H5Dcreate2(state->file, name, H5T_IEEE_F32LE, space, links, create, H5P_DEFAULT);
        for (hid_t id : {links, create})
            if (id >= 0)
                H5Pclose(id);
        if (space >= 0)
            H5Sclose(space);
    } else {
        set = H5Dopen2(state->file, name, H5P_DEFAULT);
    }
    if (set < 0)
        return fail("can not make the dataset");
    // Every block of one dataset has the first one's sizes.
    hsize_t dims[4] = {0, 0, 0, 0};
    hid_t space = H5Dget_space(set);
    bool ok = space >= 0 && H5Sget_simple_extent_dims(space, dims, nullptr) == rank;
    for (int i = 0; ok && i < rank; ++i)
        ok = i == grow || dims[i] == count[i];
    if (space >= 0)
        H5Sclose(space);
    for (int i = 0; i < rank; ++i)
        extent[i] = i == grow ? (at + 1) * count[i] : count[i];
    start[grow] = at * count[grow];
    ok = ok && H5Dset_extent(set, extent) >= 0;
    space = ok ? H5Dget_space(set) : -1;
    ok = space >= 0 &&
         H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0;
    const hid_t memory = ok ? H5Screate_simple(rank, count, nullptr) : -1;
    ok = ok && memory >= 0 &&
         H5Dwrite(set, H5T_NATIVE_FLOAT, memory, space, H5P_DEFAULT, values) >= 0;
    if (memory >= 0)
        H5Sclose(memory);
    if (space >= 0)
        H5Sclose(space);
    H5Dclose(set);
    if (!ok)
        return fail("block size differs from the first block's, or the write failed");
    state->counts[key] += 1;
    return true;
}

bool H5Writer::writeDoubles(const char *name, const std::vector<double> &values)
{
    if (state->failed)
        return false;
    const hsize_t count = values.size();
    const hid_t space = count > 0 ? H5Screate_simple(1, &count, nullptr) : -1;
    const hid_t links = groupMaker();
    const hid_t set = space >= 0 && links >= 0 ? H5Dcreate2(state->file, name, H5T_IEEE_F64LE,
                                                            space, links, H5P_DEFAULT, H5P_DEFAULT)
                                               : -1;
    const bool ok = set >= 0 && H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT,
                                         values.data()) >= 0;
    if (set >= 0)
        H5Dclose(set);
    if (links >= 0)
        H5Pclose(links);
    if (space >= 0)
        H5Sclose(space);
    return ok || fail("can not write a dataset");
}

namespace {

bool writeAttribute(hid_t file, const char *object, const char *attribute, hid_t fileType,
                    hid_t memType, hid_t space, const void *values)
{
    const hid_t target = H5Oopen(file, object, H5P_DEFAULT);
    if (target < 0)
        return false;
    if (H5Aexists(target, attribute) > 0)
        H5Adelete(target, attribute);
    const hid_t a = H5Acreate2(target, attribute, fileType, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = a >= 0 && H5Awrite(a, memType, values) >= 0;
    if (a >= 0)
        H5Aclose(a);
    H5Oclose(target);
    return ok;
}

} // namespace

bool H5Writer::setAttribute(const char *object, const char *attribute, const QString &text)
{
    if (state->failed)
        return false;
    const QByteArray bytes = text.toUtf8();
    // One variable-length UTF-8 string, as h5py writes a str.
    const hid_t type = H5Tcopy(H5T_C_S1);
    const hid_t space = H5Screate(H5S_SCALAR);
    const char *pointer = bytes.constData();
    bool ok = type >= 0 && space >= 0 && H5Tset_size(type, H5T_VARIABLE) >= 0 &&
              H5Tset_cset(type, H5T_CSET_UTF8) >= 0;
    ok = ok && writeAttribute(state->file, object, attribute, type, type, space, &pointer);
    if (space >= 0)
        H5Sclose(space);
    if (type >= 0)
        H5Tclose(type);
    return ok || fail("can not write an attribute");
}

bool H5Writer::setAttribute(const char *object, const char *attribute,
                            const std::vector<double> &values)
{
    if (state->failed)
        return false;
    const hsize_t count = values.size();
    const hid_t space = count == 1 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr);
    const bool ok = space >= 0 && !values.empty() &&
                    writeAttribute(state->file, object, attribute, H5T_IEEE_F64LE,
                                   H5T_NATIVE_DOUBLE, space, values.data());
    if (space >= 0)
        H5Sclose(space);
    return ok || fail("can not write an attribute");
}

bool H5Writer::commit()
{
    if (state->file >= 0) {
        if (H5Fclose(state->file) < 0)
            fail("can not close");
        state->file = -1;
    }
    if (state->failed)
        return false;
    if (!state->out.commit()) {
        state->failed = true;
        return false;
    }
    return true;
}

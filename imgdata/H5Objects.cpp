#include "H5Objects.h"

#include <QDebug>

#include <cmath>

namespace H5Objects {

namespace {

// A string dataset or attribute of one element, fixed or variable length; empty
// when it is not one. Long texts are not what this reads, so they are refused.
template<typename Read>
QString readText(hid_t type, hid_t space, Read read)
{
    if (H5Tget_class(type) != H5T_STRING || H5Sget_simple_extent_npoints(space) != 1)
        return QString();
    if (H5Tis_variable_str(type) > 0) {
        Handle memType(H5Tcopy(H5T_C_S1), H5Tclose);
        H5Tset_size(memType.id(), H5T_VARIABLE);
        // The library converts no text between ASCII and UTF-8: read as stored.
        H5Tset_cset(memType.id(), H5Tget_cset(type));
        char *text = nullptr;
        if (read(memType.id(), &text) < 0 || !text)
            return QString();
        const QString value = QString::fromUtf8(text);
        H5free_memory(text);
        return value;
    }
    const size_t size = H5Tget_size(type);
    if (size == 0 || size > 4096)
        return QString();
    Handle memType(H5Tcopy(H5T_C_S1), H5Tclose);
    H5Tset_size(memType.id(), size);
    H5Tset_cset(memType.id(), H5Tget_cset(type));
    std::vector<char> text(size + 1, '\0');
    if (read(memType.id(), text.data()) < 0)
        return QString();
    return QString::fromUtf8(text.data());
}

} // namespace

void silenceLibrary()
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

Handle openDataset(hid_t loc, const QString &path)
{
    if (path.isEmpty() || path == QLatin1String("-"))
        return Handle();
    const QByteArray name = path.toUtf8();
    if (H5Oexists_by_name(loc, name.constData(), H5P_DEFAULT) <= 0)
        return Handle();
    return Handle(H5Dopen2(loc, name.constData(), H5P_DEFAULT), H5Dclose);
}

QString attributeText(hid_t object, const char *name)
{
    if (H5Aexists(object, name) <= 0)
        return QString();
    Handle attribute(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!attribute)
        return QString();
    Handle type(H5Aget_type(attribute.id()), H5Tclose);
    Handle space(H5Aget_space(attribute.id()), H5Sclose);
    return readText(type.id(), space.id(),
                    [&](hid_t memType, void *to) { return H5Aread(attribute.id(), memType, to); });
}

QString datasetText(hid_t dataset)
{
    Handle type(H5Dget_type(dataset), H5Tclose);
    Handle space(H5Dget_space(dataset), H5Sclose);
    return readText(type.id(), space.id(), [&](hid_t memType, void *to) {
        return H5Dread(dataset, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, to);
    });
}

bool shapeOf(hid_t dataset, std::vector<hsize_t> *dims)
{
    Handle space(H5Dget_space(dataset), H5Sclose);
    const int rank = space ? H5Sget_simple_extent_ndims(space.id()) : -1;
    if (rank < 0 || rank > H5S_MAX_RANK)
        return false;
    dims->assign(static_cast<size_t>(rank), 0);
    return H5Sget_simple_extent_dims(space.id(), dims->data(), nullptr) >= 0;
}

Kind kindOf(hid_t dataset)
{
    Handle type(H5Dget_type(dataset), H5Tclose);
    const size_t size = H5Tget_size(type.id());
    switch (H5Tget_class(type.id())) {
    case H5T_INTEGER: {
        const bool isSigned = H5Tget_sign(type.id()) == H5T_SGN_2;
        if (size == 1)
            return isSigned ? Kind::I8 : Kind::U8;
        if (size == 2)
            return isSigned ? Kind::I16 : Kind::U16;
        if (size == 4)
            return isSigned ? Kind::I32 : Kind::U32;
        return size == 8 ? Kind::F64 : Kind::None;
    }
    case H5T_FLOAT:
        return size <= 4 ? Kind::F32 : size == 8 ? Kind::F64 : Kind::None;
    default:
        break;
    }
    return Kind::None;
}

hid_t memoryType(Kind kind)
{
    switch (kind) {
    case Kind::U8:
        return H5T_NATIVE_UINT8;
    case Kind::I8:
        return H5T_NATIVE_INT8;
    case Kind::U16:
        return H5T_NATIVE_UINT16;
    case Kind::I16:
        return H5T_NATIVE_INT16;
    case Kind::U32:
        return H5T_NATIVE_UINT32;
    case Kind::I32:
        return H5T_NATIVE_INT32;
    case Kind::F32:
        return H5T_NATIVE_FLOAT;
    case Kind::F64:
    case Kind::None:
        break;
    }
    return H5T_NATIVE_DOUBLE;
}

QString missingFilter(hid_t dataset)
{
    Handle plist(H5Dget_create_plist(dataset), H5Pclose);
    const int count = plist ? H5Pget_nfilters(plist.id()) : 0;
    for (int i = 0; i < count; ++i) {
        unsigned flags = 0;
        size_t elements = 0;
        unsigned config = 0;
        char name[256] = {};
        const H5Z_filter_t filter = H5Pget_filter2(plist.id(), static_cast<unsigned>(i), &flags,
                                                   &elements, nullptr, sizeof name, name, &config);
        if (filter < 0 || H5Zfilter_avail(filter) <= 0) {
            const QString text = QString::fromUtf8(name).trimmed();
            return text.isEmpty() ? QString::number(filter) : text;
        }
    }
    return QString();
}

bool readNumbers(hid_t dataset, hsize_t limit, std::vector<double> *values)
{
    std::vector<hsize_t> dims;
    if (!shapeOf(dataset, &dims) || dims.size() > 1)
        return false;
    const hsize_t count = dims.empty() ? 1 : dims[0];
    Handle type(H5Dget_type(dataset), H5Tclose);
    const H5T_class_t typeClass = H5Tget_class(type.id());
    if ((typeClass != H5T_INTEGER && typeClass != H5T_FLOAT) || count > limit)
        return false;
    values->assign(static_cast<size_t>(count), 0.0);
    return count == 0 ||
           H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values->data()) >= 0;
}

double energyInEV(hid_t dataset)
{
    std::vector<double> values;
    if (dataset < 0 || !readNumbers(dataset, 1, &values) || values.empty() ||
        !std::isfinite(values[0]) || values[0] <= 0)
        return 0.0;
    const QString units = attributeText(dataset, "units").trimmed();
    if (units == QLatin1String("eV"))
        return values[0];
    if (units.isEmpty() || units == QLatin1String("keV"))
        return values[0] * 1000.0;
    qDebug() << "HDF5 energy units not understood, energy ignored" << units;
    return 0.0;
}

} // namespace H5Objects

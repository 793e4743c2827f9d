#pragma once

#include "ImgDataH5.h"

#include <QString>

#include <hdf5.h>

#include <utility>
#include <vector>

// The objects of an HDF5 file as a scan reader looks at them: identifiers held in
// handles that close themselves, and the small reads a scan's layout is told from
// (texts, shapes, pixel types, filters, short lists of numbers).
namespace H5Objects {

using Kind = ImgDataH5::SampleKind;

// An HDF5 identifier closed by the function that fits its kind.
class Handle
{
public:
    Handle() = default;
    Handle(hid_t id, herr_t (*closer)(hid_t))
        : value(id)
        , close(closer)
    {
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle(Handle &&other) noexcept { *this = std::move(other); }
    Handle &operator=(Handle &&other) noexcept
    {
        std::swap(value, other.value);
        std::swap(close, other.close);
        return *this;
    }
    ~Handle()
    {
        if (value >= 0 && close)
            close(value);
    }
    hid_t id() const { return value; }
    explicit operator bool() const { return value >= 0; }

private:
    hid_t value = -1;
    herr_t (*close)(hid_t) = nullptr;
};

// The library prints its error stack on stderr by default; a refused file says
// why in one line of ours instead.
void silenceLibrary();

// Opening objects by path with the error printing off: a missing link is only a
// negative identifier, never a message.
Handle openDataset(hid_t loc, const QString &path);

QString attributeText(hid_t object, const char *name);

QString datasetText(hid_t dataset);

// A dataset's shape; false for a space that is not simple.
bool shapeOf(hid_t dataset, std::vector<hsize_t> *dims);

// How pixels of the dataset's type are held: integers of up to 32 bits as they
// are, wider integers and floats as floats of the width that keeps them.
Kind kindOf(hid_t dataset);

hid_t memoryType(Kind kind);

// The first filter of the dataset's pipeline this library can not decode; empty
// when all can. Reading through a missing filter would give nothing or zeros.
QString missingFilter(hid_t dataset);

// Numbers of a rank-0 or rank-1 dataset, at most `limit` of them.
bool readNumbers(hid_t dataset, hsize_t limit, std::vector<double> *values);

// The beam energy in eV: keV unless the units say eV; 0 when not given or unusable.
double energyInEV(hid_t dataset);

} // namespace H5Objects

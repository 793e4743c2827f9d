#pragma once

#include "imgdata/H5Scan.h"

#include <QString>

#include <functional>
#include <memory>

class CommandTable;

// How HDF5 scans are read, as h5_paths and h5_flat_reduce set it: by h5_load and by
// a sequential run over HDF5 files alike.
struct H5Settings
{
    H5Paths paths;
    H5Scan::Reduce reduce = H5Scan::Reduce::Mean;
};

// What the window does with a scan read from an HDF5 file: its frames become the
// projection stack, its flats the I0 image and its darks the BG image. False when
// the window can not take it.
struct H5Parts
{
    std::function<bool(H5Scan &scan, const QString &fileName)> take;
    // Shared with the window's sequential runs; the commands make their own when none.
    std::shared_ptr<H5Settings> settings;
};

void registerH5Commands(CommandTable &table, const H5Parts &parts);

#pragma once

#include <QString>

#include <functional>

class CommandTable;
class H5Scan;

// What the window does with a scan read from an HDF5 file: its frames become the
// projection stack, its flats the I0 image and its darks the BG image. False when
// the window can not take it.
struct H5Parts
{
    std::function<bool(H5Scan &scan, const QString &fileName)> take;
};

void registerH5Commands(CommandTable &table, const H5Parts &parts);

#pragma once

#include <QString>

#include <tiffio.h>

#include <memory>

// What every reader and writer of TIFF files in the program shares: libtiff's
// complaints go to the debug channel with everything else instead of stderr,
// its warnings (unknown tags and the like) are dropped, and a handle closes
// itself on every path.
namespace TiffSupport {

struct Closer
{
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using Handle = std::unique_ptr<TIFF, Closer>;

// Open options with the handlers above; the caller frees them with
// TIFFOpenOptionsFree once the file is open.
TIFFOpenOptions *newOptions();

// Opens a file; maxSingleAlloc > 0 bounds any one allocation libtiff makes for it.
Handle openFile(const QString &path, const char *mode, qint64 maxSingleAlloc = 0);

} // namespace TiffSupport

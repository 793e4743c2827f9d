#pragma once

#include <QString>

#include <memory>
#include <vector>

// One HDF5 file written the way every result is (util/SafeFile): under a temporary
// name in the target's folder, renamed over the target only when it is whole. Every
// HDF5 call is checked; after the first failure nothing more is written, commit()
// answers false and the temporary file is removed (also when the writer is
// destroyed uncommitted). Failures are logged with the file's name.
class H5Writer
{
public:
    explicit H5Writer(const QString &path);
    ~H5Writer();
    H5Writer(const H5Writer &) = delete;
    H5Writer &operator=(const H5Writer &) = delete;

    bool ok() const;
    const QString &path() const;

    // Appends one rows x columns frame of float32 values to the dataset `name`
    // ("/entry/data/data"), made at the first frame as [frame, row, column] growing
    // along the frames, one frame per chunk; a frame of another size is refused.
    bool appendFrame(const char *name, int rows, int columns, const float *values);
    // Writes a block of float32 values (sizes `block`, row after row) as the next
    // index along axis `grow` of the dataset `name`, made at the first block with the
    // block's sizes, unlimited along `grow`, and chunks of `chunk` (each size at most
    // the block's); a block of other sizes is refused. Rank 2 to 4.
    bool appendBlock(const char *name, const std::vector<int> &block, int grow,
                     const std::vector<int> &chunk, const float *values);
    // A fixed float64 dataset of `values`.
    bool writeDoubles(const char *name, const std::vector<double> &values);
    // Appends one number to the growing int32 dataset `name`.
    bool appendInt(const char *name, int value);
    // Frames appended to `name` so far.
    int frames(const char *name) const;
    // Attributes of the object `object` (a group or dataset already there).
    bool setAttribute(const char *object, const char *attribute, const QString &text);
    bool setAttribute(const char *object, const char *attribute, const std::vector<double> &values);

    // Closes the file and renames it over `path`.
    bool commit();

private:
    struct State;
    std::unique_ptr<State> state;
    bool fail(const char *what);
};

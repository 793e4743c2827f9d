#pragma once

#include <QString>

#include <memory>
#include <vector>

// 32-bit float TIFF images as the program writes them: one sample per pixel,
// uncompressed, the region's corner in XPosition/YPosition and a one-line JSON
// ImageDescription per page. Reading accepts what the result writer produces
// (strips of any height) and refuses anything else with a diagnostic.
struct XafsPage
{
    int width = 0;
    int height = 0;
    double x0 = 0.0; // XPosition: first column of the region in slice pixels
    double z0 = 0.0; // YPosition: first row
    QString description;
    std::vector<float> values; // row by row, width * height
};

class XafsTiff
{
public:
    // Every page of the file; false (pages empty) with a diagnostic when the file
    // is not a float TIFF this program can read.
    static bool readPages(const QString &path, std::vector<XafsPage> *pages);
    // The first page's values straight into `values` (width * height floats), its size,
    // position and description into `info`; false when the size is not `count`.
    static bool readInto(const QString &path, float *values, size_t count, XafsPage *info);
    // Only the first page's size, position and description (values left empty).
    static bool readInfo(const QString &path, XafsPage *info);

    // Writes pages one after the other into a temporary file beside `path` that
    // replaces `path` only when complete, so that a failed write never leaves a
    // truncated stack under the final name.
    class Writer
    {
    public:
        explicit Writer(const QString &path);
        ~Writer();
        Writer(const Writer &) = delete;
        Writer &operator=(const Writer &) = delete;

        bool isOpen() const;
        bool addPage(int width, int height, double x0, double z0, const QString &description,
                     const float *values);
        // Closes the file and moves it to its name; false when any step failed.
        bool commit();

    private:
        struct State;
        std::unique_ptr<State> state;
    };

    static bool writePage(const QString &path, const XafsPage &page);
};

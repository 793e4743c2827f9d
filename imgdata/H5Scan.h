#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ImgData;

// The datasets of a scan in a layout the program does not recognise by itself,
// as the user names them. An empty path (or "-") means the file has no such data.
struct H5Paths
{
    QString data;
    QString flat;
    QString dark;
    QString angles;
    QString energy;

    bool isSet() const { return !data.isEmpty(); }
    // From the arguments DATA FLAT DARK ANGLES [ENERGY]; none clears the paths.
    // False when there are some but fewer than four.
    static bool fromArguments(const QStringList &arguments, H5Paths *paths);
};

// One scan read from an HDF5 file: the projections as frames in file order, the
// flats and the darks each reduced to one image, the angle of each projection and
// the beam energy. The layout is told from the content: the first NXentry whose
// definition is NXtomo, else /exchange/data (data exchange), unless paths are given.
// Whatever the file says, what is read is bounded first by the memory budget, and a
// file that can not be read as a scan is refused with one log line naming it.
class H5Scan
{
public:
    enum class Reduce { Mean, Median };

    H5Scan();
    ~H5Scan();
    H5Scan(const H5Scan &) = delete;
    H5Scan &operator=(const H5Scan &) = delete;

    bool load(const QString &fileName, const H5Paths &paths = H5Paths(),
              Reduce reduce = Reduce::Mean);

    // The beam energy a file gives (eV; 0 when it gives none or can not be read),
    // read without its frames: the energy dataset of its NXtomo entry, or the one
    // the paths name.
    static double energyOfFile(const QString &fileName, const H5Paths &paths = H5Paths());
    // Files whose name says HDF5 (.h5, .hdf5, .nxs).
    static bool isH5Name(const QString &fileName);
    // Angles within 0.01 degrees of i * 180 / P are the even spread the default
    // geometry assumes; the first projection whose angle is not, or -1.
    static int firstNonUniformAngle(const std::vector<double> &degrees);

    QString layout; // "NXtomo", "data-exchange" or "paths"
    std::vector<std::unique_ptr<ImgData>> projections;
    std::unique_ptr<ImgData> flat;
    std::unique_ptr<ImgData> dark;
    std::vector<double> anglesDeg;
    double energyEV = 0.0; // 0 when the file gives none

private:
    void reset();
};

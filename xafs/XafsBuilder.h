#pragma once

#include "xafs/XafsMapSettings.h"
#include "xafs/XafsNormaliser.h"
#include "xafs/XafsResultSets.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class H5Writer;
// Per energy of one built slice: what the CSV reports.
struct XafsEnergyRow
{
    double energy = 0.0;
    QString tag;
    double cor = 0.0;
    double shiftX = 0.0;
    double shiftZ = 0.0;
};

// Builds, for every slice reconstructed at all energies, the energy stack of µ and
// what normalisation makes of it, into <folder>/xafs/:
//   <name>-mu-<slice>.tif    one page per energy (increasing), µ per pixel
//   <name>-norm-<slice>.tif  the normalised stack (NaN where the jump is too small)
//   <name>-jump-<slice>.tif  the edge jump per pixel
//   <name>-e0-<slice>.tif    the edge position per pixel, eV
//   <name>-flat-<slice>.tif  the flattened stack, when flattening is on
//   <name>-energies.csv      index, energy, tag, CoR and the shift applied per slice
//   <name>-xafs.json         the record: the settings as used, energies, slices, NaN voxels
//   <name>-xafs.h5           with xafs_h5 1: /mu and /norm float32 [energy, slice, z, x]
//                            chunked (energies, 1, 16, 16), so that one voxel's spectrum
//                            is one chunk; /energy_eV, /slice; /jump and /e0 [slice, z, x];
//                            the region as attributes, the record as a JSON attribute
class XafsBuilder
{
public:
    XafsBuilder(const XafsLayout &layout, const XafsSettings &settings);
    ~XafsBuilder();
    XafsBuilder(const XafsBuilder &) = delete;
    XafsBuilder &operator=(const XafsBuilder &) = delete;

    // Finds the result sets, aligns them on their common region, builds every complete
    // slice. The number of slices built; 0 when nothing could be built, or when a set
    // is damaged or can not be used (its energy would be missing from the spectra).
    int build();
    // Complete slices the last build could not build (unreadable stacks, no
    // normalisation): the slices built stay, but the build is not a success.
    const QList<int> &failedSlices() const { return notBuilt; }

    // The sets found (after refusals), in increasing energy.
    const std::vector<XafsResultSet> &sets() const { return found; }
    QString outputFolder() const;
    static QString stackFileName(const QString &name, const QString &kind, int slice);
    // The slice numbers (as file names show them) whose µ stack lies in `folder`.
    static QStringList builtSlices(const QString &folder, const QString &name);
    static QString energiesFileName(const QString &name);

    // Settings of later steps that go into the record <name>-xafs.json with the build's.
    void setRecordExtra(const QJsonObject &extra) { recordExtra = extra; }
    // With these settings the build also makes the edge position and white-line maps
    // of every built slice once its stacks are written (and puts them into the HDF5
    // file when it writes one).
    void setEdgeMaps(const XafsMapSettings &maps)
    {
        edgeMapSettings = maps;
        withEdgeMaps = true;
    }

private:
    QList<int> notBuilt;
    // Throws std::bad_alloc when the slice's buffers can not be had.
    bool buildSlice(int slice, std::vector<XafsEnergyRow> *rows);
    // What the buffers of one slice take, charged to the memory budget.
    qint64 sliceBytes() const;
    bool writeEnergies(const QMap<int, std::vector<XafsEnergyRow>> &rows) const;
    bool writeRecord(const QList<int> &slices) const;

    XafsLayout layout;
    XafsSettings settings;
    std::vector<XafsResultSet> found;
    XafsRegion region;       // what the stacks cover, common to every set found
    QJsonArray sliceRecords; // what each slice's fits gave, for the record
    QJsonObject recordExtra;
    // The buffers of a slice, kept from slice to slice: fresh memory for a stack of
    // hundreds of MB costs more to fault in than the results cost to read.
    struct Work;
    std::unique_ptr<Work> work;
    // <name>-xafs.h5 while a build with xafs_h5 writes it.
    std::unique_ptr<H5Writer> h5;
    bool h5Ok = true;
    XafsMapSettings edgeMapSettings;
    bool withEdgeMaps = false;
    bool writeH5Slice(int slice, const std::vector<double> &grid);
    bool writeH5EdgeMaps(const QList<int> &slices);
    bool commitH5(const QString &recordPath);
};

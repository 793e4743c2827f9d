#pragma once

#include "ct/ResultLayout.h"

#include <QList>
#include <QMap>
#include <QString>

#include <vector>

// Where the results of a sequential run lie: the data save folder, the data name and
// the sub-folder settings the results were saved with.
struct XafsLayout
{
    QString folder;
    QString name;
    bool inSubFolders = false;
    bool ofEnergy = false;
    bool ofSlice = false;

    ResultLayout results() const { return {inSubFolders, ofEnergy, ofSlice}; }
};

// The results of one energy: one float TIFF per slice and the run record.
struct XafsResultSet
{
    QString tag;
    double energy = 0.0; // eV
    double cor = 0.0;
    int projections = 0;
    int n = 0;
    int x0 = 0; // the clipped region in slice pixels
    int z0 = 0;
    int width = 0;
    int height = 0;
    QMap<int, QString> slices; // slice number -> TIFF path
    // Where the build's common region starts in this set's results.
    int cropX = 0;
    int cropZ = 0;
};

// The pixels of an N x N slice that the stacks of a build cover.
struct XafsRegion
{
    int n = 0;
    int x0 = 0;
    int z0 = 0;
    int width = 0;
    int height = 0;
};

// The result sets of a sequential run, one per energy, and which of them one energy
// stack can be built from.
namespace XafsResultSets {

// The builder's output folder beside the results; never searched for results.
QString outputFolderName();
// Every set of the layout's data name, by tag. Results or records refused as damaged
// (a region outside its slice, a record that is no regular file or too large) are
// counted in `damaged`.
std::vector<XafsResultSet> find(const XafsLayout &layout, int *damaged);
// Keeps one set per energy, in increasing energy, with the region they all cover in
// `region`. Sets of another N or region are aligned on the rotation axis; those that can
// not be used (no energy or projection count, a region outside the others' common
// region, an N that differs by an odd count) are logged and counted in `unusable`.
std::vector<XafsResultSet> fitToCommonRegion(std::vector<XafsResultSet> sets, XafsRegion *region,
                                             int *unusable);
// Slice numbers present in every set; the others are reported.
QList<int> completeSlices(const std::vector<XafsResultSet> &sets, QList<int> *incomplete = nullptr);

} // namespace XafsResultSets

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
// Keeps the sets sharing the most common region and N, one per energy, in increasing
// energy.
std::vector<XafsResultSet> refuseMisfits(std::vector<XafsResultSet> sets);
// Slice numbers present in every set; the others are reported.
QList<int> completeSlices(const std::vector<XafsResultSet> &sets);

} // namespace XafsResultSets

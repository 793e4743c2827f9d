#pragma once

#include <QString>

#include <vector>

// One map of a built slice as the XAFS tab lists it.
struct XafsMapEntry
{
    // How its values become a picture: a grey ramp over the values' range, a grey ramp
    // over the 1st to 99th percentile (energies, where a few voxels far off would take
    // the whole ramp), or one colour per cluster number.
    enum class Scale { Range, Percentiles, Clusters };

    QString label;
    Scale scale = Scale::Range;
    std::vector<float> values;
};

namespace XafsMapList {

// The maps found for `slice` of `name` in the xafs folder, in the chooser's order: edge
// jump, E0, edge50, white-line energy and height, the LCF weights and R-factor, the PCA
// scores, the clusters. Maps not made yet are left out, the edge jump and E0 never.
// `jumpUnit` receives the jump map's unit.
std::vector<XafsMapEntry> load(const QString &folder, const QString &name, int slice,
                               QString *jumpUnit);

// The q-th and (1 - q)-th quantiles of the finite values; false when there are none.
bool percentileRange(const std::vector<float> &values, double q, double *lo, double *hi);

// The clusters' mean spectra of <name>-clusters.csv: energies, one row per cluster and
// its voxel count; false when the file is missing or not in that form.
bool readClusterMeans(const QString &folder, const QString &name, std::vector<double> *energies,
                      std::vector<std::vector<double>> *means, std::vector<size_t> *voxels);

} // namespace XafsMapList

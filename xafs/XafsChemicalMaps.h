#pragma once

#include "xafs/XafsComponents.h"
#include "xafs/XafsMapSettings.h"

#include <QString>
#include <QStringList>

#include <vector>

class XafsSpectrum;

// The chemical maps of every built slice, from the normalised stacks in the xafs folder
// (<name>-norm-<slice>.tif) into the same folder:
//   lcf:      <name>-lcf-<NAME>-<slice>.tif per reference, <name>-lcf-rfactor-<slice>.tif,
//             <name>-lcf.csv (slice, reference, mean and sd of the weight, mean R-factor)
//   edges:    <name>-edge50-<slice>.tif, <name>-wl-energy-<slice>.tif, <name>-wl-height-<slice>.tif
//   pca:      <name>-pca.csv, <name>-pca-<k>-<slice>.tif for k = 1 .. chosen
//   clusters: <name>-cluster-<slice>.tif, <name>-clusters.csv
// Every step answers false with a diagnostic when it could not make its files.
class XafsChemicalMaps
{
public:
    XafsChemicalMaps(const QString &xafsFolder, const QString &name,
                     const XafsMapSettings &settings);

    // The scan's energies as the last build listed them; empty when nothing is built.
    static std::vector<double> scanEnergies(const QString &xafsFolder, const QString &name);
    // The references that do not cover the fit range on these energies, by name.
    static QStringList uncovered(const XafsMapSettings &settings,
                                 const std::vector<double> &energies);

    int linearCombinationFit() const;
    // `unwritten`, when given, counts the slices whose maps could not be written.
    int edgeMaps(int *unwritten = nullptr) const;
    // The components of the built slices; `pca` receives them (also when the files
    // could not be written).
    bool principalComponents(XafsPca *pca) const;
    // k-means on the scores of the chosen components of `pca`.
    bool clusters(const XafsPca &pca, int k) const;

private:
    QStringList slices() const;
    QString path(const QString &kind, const QString &slice) const;
    bool load(const QString &slice, XafsSpectrum *stack) const;
    bool writeMap(const QString &kind, const QString &slice, const XafsSpectrum &stack,
                  const QString &what, const std::vector<float> &values) const;
    // Which voxels, counted over the slices in order, make the sample of the components.
    std::vector<bool> sample(const std::vector<size_t> &pixels) const;

    QString folder;
    QString name;
    XafsMapSettings settings;
};

#pragma once

#include "xafs/XafsReference.h"

#include <QWidget>

#include <vector>

class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

// The chemical maps' row of the XAFS tab: the reference spectra (added from files,
// removed), and the buttons that make the maps: "Fit" (a linear combination of the
// references in every voxel), "Components" (principal components and their number),
// "Clusters" with K, and the clusters' mean spectra plotted together.
class XafsMapControls : public QWidget
{
    Q_OBJECT
public:
    explicit XafsMapControls(QWidget *parent = nullptr);

    void setReferences(const std::vector<XafsReference> &references);
    // Reads a reference file under a name made from its base name (a plain word, not
    // one of `taken`); false with a diagnostic as xafs_ref refuses.
    static bool readReference(const QString &path, const std::vector<XafsReference> &taken,
                              XafsReference *reference);
    // While maps are being made the buttons that start work are not pressed.
    void setBusy(bool busy);
    void setStatus(const QString &text);
    int clusterCount() const;

signals:
    void referenceAdded(const XafsReference &reference);
    void referenceRemoved(int index);
    void fitRequested();
    void componentsRequested();
    void clustersRequested(int k);
    void clusterMeansRequested();

private:
    void askReference();

    QListWidget *list;
    QPushButton *add;
    QPushButton *remove;
    QPushButton *fit;
    QPushButton *components;
    QSpinBox *clusters;
    QPushButton *clusterButton;
    QPushButton *means;
    QLabel *status;
    std::vector<XafsReference> shown;
};

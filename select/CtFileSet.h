#pragma once

#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QString>

// One set of image files of one energy: a run of consecutive files whose KVN stems
// are equal. The energy fields are read from the first file's name.
class CtFileSet : public QObject
{
    Q_OBJECT

public:
    explicit CtFileSet(QObject *parent = nullptr);

    QString fileName;
    QString stem;
    QString sample;
    QString energyText;
    double energy = 0.0;
    double unitFactor = 1.0;
    QString unit;
    QList<QFileInfo> files;

    // A file that holds a whole scan (HDF5): the set is that file alone.
    bool scanFile = false;

    void setFirstFile(const QFileInfo &info);
    // The set of a scan file, named "sample-energytext.h5" (as a set's sub-directory
    // is) or like one of a set's files, "sample-energytext-rest.h5". Its energy is the
    // one the file gives (eV, when > 0), else the one of its name; the energy text
    // is the name's, or the file's energy in eV when the name has none.
    void setScanFile(const QFileInfo &info, double fileEnergyEV);
    bool belongs(const QFileInfo &info) const;
    void addFile(const QFileInfo &info);
    // The energy of the set in eV.
    double energyInEv() const { return energy * unitFactor; }
};

#pragma once

#include "DemoPhantom.h"
#include "DemoScan.h"
#include "DemoSettings.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

class DemoNoise;

// Writes a CT-XAFS demo data set: projections of a phantom at several energies around
// an absorption edge, an I0 image per energy, a dark (BG) image, the true slices and a
// geometry.json describing it all. Files are named by the KVN rule so that the data
// directory panel finds one set per energy in both of its modes.
class DemoGenerator
{
public:
    explicit DemoGenerator(const DemoSettings &settings);

    // Empty when the settings can be generated, otherwise the reason.
    QString problem() const;
    // Writes everything; false with a debug message when something can not be written.
    bool generate();

    double energyAt(int k) const;
    int energyCount() const { return s.energies; }
    int frameCount() const { return int(scan.size()); } // after generate()
    // "7112_0eV": one decimal, "_" for the decimal point.
    static QString energyText(double eV);
    static QString runningNumber(int i);
    QString projectionDir(const QString &energyText) const; // relative to outDir
    QString projectionFileName(const QString &energyText, int i) const;
    static QString i0FileName(const QString &energyText);
    static QString bgFileName();
    QString truthFileName(const QString &energyText) const; // relative to outDir
    // The batch lines that load energy k as the program needs it for a run: axis
    // vertical, the projections, its I0 and the dark image.
    QStringList loadLines(int k) const;

    // The sinogram geometry the program derives from width and CoR.
    int halfWidth() const;
    int nFft() const;
    double centre() const { return nFft() * 0.5; }
    // The grid of the true slices, N x N with pixel (x, z) at (x - c, z - c) from the
    // axis: the 180 degree reconstruction's N unless the sample width or the axis
    // set a field of its own.
    int truthSize() const;
    double truthCentre() const { return truthSize() * 0.5; }

private:
    DemoPhantom phantom() const;
    bool makeDirs() const;
    bool syncDisk() const;
    // The I0 image, projections and true slices of every energy.
    bool writeEnergies(const std::vector<double> &darkMean);
    bool writeI0(int k, const std::vector<double> &darkMean);
    bool writeBg(const std::vector<double> &darkMean);
    bool writeTruth(const QString &energyText, double energy) const;
    bool writeGeometry() const;
    void addScanGeometry(QJsonObject *geometry) const;
    bool writeSpecies() const;
    double beamAt(int k, int x, int y) const;
    // A camera reading of the given mean limited to the 16-bit range of the file: drawn
    // from `noise`, or the mean rounded when that is null (noise off).
    static quint16 reading(double mean, DemoNoise *noise);
    // Beam photons plus the camera's dark offset, each with its own photon noise.
    static quint16 sumOfReadings(double beam, double dark, DemoNoise *noise);
    // Threads drawing the projections.
    int threadCount() const;
    // A reading of detector column x in projection `projection` through the defects.
    quint16 defective(quint16 reading, int x, int projection, double darkMean) const;

    DemoSettings s;
    double cor;
    std::vector<DemoFrame> scan; // the frames written, in order
};

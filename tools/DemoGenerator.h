#pragma once

#include <QString>
#include <QStringList>

#include <random>
#include <vector>

// What the demo data set looks like. The defaults make a small set that is written
// in a fraction of a second.
struct DemoSettings
{
    enum class Layout {
        SubDirs, // proj/<energy text>/...: one sub-directory per energy
        Flat     // proj/...: all energies in one directory, sets told apart by name
    };

    QString outDir;
    QString sample = QStringLiteral("demo");
    int width = 128;      // detector pixels per row
    int height = 8;       // rows = slices (the rotation axis is vertical)
    int projections = 90; // over 180 degrees, projection i at i pi / P
    int energies = 3;
    double cor = -1.0; // centre of rotation in pixels; below 0: width / 2 - 0.75
    quint32 seed = 1;
    bool noise = true;
    Layout layout = Layout::SubDirs;
    double edgeEnergy = 7112.0; // eV (the iron K edge)
    double energyStep = 20.0;   // eV between energies, centred on the edge
    double flux = 20000.0;      // photons per pixel of the open beam
    double dark = 100.0;        // mean dark level (BG)
    // Frames averaged into each I0 image. With one, the I0's photon noise is the same in
    // every projection and reconstructs as rings; beamlines average several flat frames.
    int i0Frames = 1;
    // Detector defects in the projections (not in I0 and BG), applied to the readings
    // after the noise so that a scan with and one without them share their noise:
    // columns with gain errors of 1 to 5 %, a dead column reading the dark level, and
    // a wide stripe of -10 % over the middle 40 % of the projections.
    bool defects = false;
    // 2: grains of two species A and B with edges 4 eV apart (see DemoPhantom); their
    // reference spectra go to references/A.csv and B.csv, the true weight maps beside the
    // truth slices.
    int species = 1;

    double corOrDefault() const;
};

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

private:
    bool makeDirs() const;
    bool writeEnergy(int k, const std::vector<double> &darkMean);
    bool writeBg(const std::vector<double> &darkMean);
    bool writeTruth(const QString &energyText, double energy) const;
    bool writeGeometry() const;
    bool writeSpecies() const;
    double beamAt(int k, int x, int y) const;
    // A camera reading of the given mean: photon noise when noise is on, and limited to
    // the 16-bit range of the file.
    quint16 reading(double mean);
    // Beam photons plus the camera's dark offset, each read with its own noise.
    quint16 sumOfReadings(double beam, double dark);
    // A reading of detector column x in projection `projection` through the defects.
    quint16 defective(quint16 reading, int x, int projection, double darkMean) const;

    DemoSettings s;
    double cor;
    std::mt19937_64 random;
};

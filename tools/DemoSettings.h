#pragma once

#include <QString>

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
    int projections = 90; // frames scanned over the scan range, frame i at i range / P
    int energies = 3;
    double cor = -1.0; // centre of rotation in pixels; below 0: width / 2 - 0.75
    quint32 seed = 1;
    bool noise = true;
    // Threads working out the projections and their noise; 0: one per core. The files
    // are the same whatever the number.
    int threads = 0;
    Layout layout = Layout::SubDirs;
    double edgeEnergy = 7112.0; // eV (the iron K edge)
    double energyStep = 20.0;   // eV between energies, centred on the edge
    // The energies in eV, increasing, when they are not evenly spread; `energies` is
    // then their number and `energyStep` is not used.
    std::vector<double> energyList;
    double flux = 20000.0; // photons per pixel of the open beam
    double dark = 100.0;   // mean dark level (BG)
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

    // Scan geometry. The defaults are the even spread over 180 degrees with the axis
    // near the middle, the phantom inside the circle both sides of the axis see.
    int scanRange = 180; // degrees: 180 or 360
    // Each angle moved by a uniform random fraction up to +-anglesJitter of a step
    // (drawn from a generator of its own, so the photon noise stays that of the seed).
    double anglesJitter = 0.0;
    // Fraction of the frames missing in one block in the middle of the scan.
    double dropBlock = 0.0;
    // The rotation axis at this detector column (at or above 0), replacing `cor`, with
    // the phantom sized by sampleWidth: for an axis near an edge (half acquisition).
    double axis = -1.0;
    // Pixels across the field the phantom fills 0.9 of and the truth covers (above 0);
    // it may exceed the detector. Otherwise the field is that of the 180 degree
    // reconstruction (N), or with `axis` the one a full turn sweeps, 2 max(X, W - X).
    double sampleWidth = 0.0;
    // Fraction the beam falls by, linearly, from the first frame scanned to the last
    // (I0 is taken before the scan at the full beam).
    double beamDecay = 0.0;

    double corOrDefault() const;
    // Angles differ from the even spread: the generator writes angles.txt.
    bool writesAngles() const { return anglesJitter > 0.0 || dropBlock > 0.0; }
};

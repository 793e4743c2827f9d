#pragma once

#include "DemoSettings.h"

#include <QString>

#include <vector>

// The frames of the demo scan in the order they are taken and written.
struct DemoFrame
{
    double theta; // radians
    double beam;  // the beam's strength relative to I0's (1 without decay)
    int scanned;  // its place among the frames scanned, dropped ones counted
};

namespace DemoScan {

// The frames kept: P frames evenly over the scan range, each moved by its jitter,
// less the dropped block. Without jitter, drop and decay frame i is at i pi / P (180)
// or i 2 pi / P (360) with beam 1, exactly as the even spread is computed elsewhere.
std::vector<DemoFrame> frames(const DemoSettings &s);
// Frames the dropped block removes.
int droppedFrames(const DemoSettings &s);
// Empty when the geometry options can be generated, otherwise the reason.
QString problem(const DemoSettings &s);
// angles.txt in outDir: the kept frames' angles in degrees, one per line.
bool writeAngles(const QString &path, const std::vector<DemoFrame> &frames);

// Reads one energy in eV per line ('#' starts a comment, blank lines are skipped).
// Empty when the file gives an increasing list, otherwise what is wrong, with the
// line number (the list is then left empty).
QString readEnergies(const QString &path, std::vector<double> *energies);

} // namespace DemoScan

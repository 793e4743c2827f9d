#pragma once

#include "CtFbp.h"

#include <QJsonObject>
#include <QString>

#include <vector>

// Where the projections of a scan lie in angle, and how much each counts in the
// back projection. The default, P projections evenly over 180 degrees with
// projection i at i * 180 / P, never goes through here: the FBP core keeps its
// own arithmetic for it, bit for bit.
//
// Any other geometry gives each projection an angle and a weight: P times its
// share of the scan's range, the share being half the distance to its neighbours
// in angle over the range. Neighbours are found among the angles taken modulo the
// range, so the first projection's neighbour below is the last one's angle less
// the range: a repeated end angle (0 and 180 in a 180-degree scan) shares one
// step, a block of dropped frames is covered by the projections on either side,
// and an even spread weighs 1 everywhere. The weights of P projections sum to P,
// which keeps the result's value / (2P) the attenuation per pixel.
//
// Half acquisition: a 360-degree scan whose axis lies closer to an edge of the
// detector than to its middle sees the far half of the field in one half turn
// only. Its sinogram rows reach max(CoR, W - CoR) on both sides of the axis;
// each ray seen twice, once in each half turn, is weighted so that the two sum
// to 2 (a ray seen once weighs 2), with a sin^2 transition across the overlap
// around the axis, which is smooth at both of its ends (no ring) and in the
// middle (no seam).
//
// Tested in tests/ct/tst_ScanGeometry.cpp.
struct ScanGeometry
{
    // 180 or 360 degrees.
    int rangeDegrees = 180;
    // One angle in degrees per projection; empty: even spread over the range.
    std::vector<double> anglesDeg;
    // Where the angles come from: "even", the angle file's name, or "HDF5".
    QString source = QStringLiteral("even");

    bool isDefault() const { return rangeDegrees == 180 && anglesDeg.empty(); }

    // The angles in degrees of `count` projections: the given ones, or i * range / count.
    std::vector<double> anglesOf(int count) const;

    // What the FBP core needs for the sinogram of one slice: `count` projections,
    // rows of `sinogramWidth` samples with the CoR `cor` of a detector line of
    // `lineLength` samples at their middle. Empty for the default geometry.
    CtFbp::Geometry forSinogram(int count, int sinogramWidth, int lineLength, double cor) const;

    // The run record's "angles": source, count, first and last angle in degrees.
    QJsonObject recordOf(int count) const;

    // A geometry from angles read elsewhere (an HDF5 file's rotation angles), in
    // degrees, one per projection in projection order.
    static ScanGeometry fromAngles(std::vector<double> anglesDeg, int rangeDegrees,
                                   const QString &source);

    // The weight of each projection: P times its share of the range (see above).
    static std::vector<double> weightsOf(const std::vector<double> &anglesDeg, double rangeDegrees);

    // An angle file: one angle in degrees per line, in projection order; text from
    // '#' on and blank lines are ignored. False with *error set (the file, the line)
    // when it can not be read or a line is not one finite number.
    static bool readAngleFile(const QString &path, std::vector<double> *anglesDeg, QString *error);

    // A 360-degree scan with the CoR closer to an edge of the line of `lineLength`
    // samples than to its middle.
    static bool isHalfAcquisition(int rangeDegrees, int lineLength, double cor);
    // The sinogram half width (SgmGeom) of a half acquisition: rows reach
    // max(CoR, W - CoR) to either side, N = 2 * that rounded up to an even length.
    static int halfAcquisitionHalfWidth(int lineLength, double cor);
    // The weight of each sample of a half-acquisition sinogram row of `width`
    // samples with the CoR at sample (width - 1) / 2 (see above); samples past the
    // detector's near edge weigh 0.
    static std::vector<double> halfAcquisitionWeights(int width, int lineLength, double cor);
};

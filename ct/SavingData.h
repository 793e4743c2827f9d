#pragma once

#include "ct/ResultLayout.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// A text result on its way from a reconstruction engine to the DataSaver. The
// engine creates it with new; the saver's "WDiscard" slot deletes it after writing.
class SavingData
{
public:
    SavingData(const QString &path, const QString &name, const QString &tag, int sliceNo);

    QString path;
    QString name;
    QString tag;
    // The slice number as file names show it (sliceNumberText).
    QString no;
    QByteArray data;
    // The ".dat" text in `data` is written only when this is set; the float
    // TIFF (".tif") only when `tiff` holds its bytes.
    bool writeDat = true;
    QByteArray tiff;
    // The float32 pixels of the TIFF's region, for the set's HDF5 file; written
    // only when `h5` is set.
    bool h5 = false;
    std::vector<float> values;
    int x0 = 0;
    int z0 = 0;
    int columns = 0;
    int rows = 0;
    int n = 0;
    int projections = 0;
    // Not empty: the slice failed and nothing is written; the saver notes the
    // reason for the set's run record.
    QString failure;

    // The "#ORVO-CTImg" text of the region x0..x1, z0..z1 of an n x n result whose
    // row z is rowOf(z). The region is clipped to 0..n first, and the header gives
    // the clipped bounds, so that the header always describes the pixel lines that
    // follow and no value is read outside the result.
    static QByteArray resultText(int n, const std::function<const double *(int z)> &rowOf,
                                 double x0, double z0, double x1, double z1);
    // The same for a result stored row after row in one block of n * n values.
    static QByteArray resultText(int n, const double *values, double x0, double z0, double x1,
                                 double z1);
    // A region bound limited to 0..n; a bound that is not a number gives 0.
    static double clipBound(double bound, int n);
};

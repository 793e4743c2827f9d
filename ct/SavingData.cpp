#include "SavingData.h"

#include <QIODevice>
#include <QTextStream>

#include <cmath>

QString sliceNumberText(int sliceNo)
{
    return QString::asprintf("%05d", sliceNo);
}

SavingData::SavingData(const QString &path, const QString &name, const QString &tag, int sliceNo)
    : path(path)
    , name(name)
    , tag(tag)
    , no(sliceNumberText(sliceNo))
{
}

double SavingData::clipBound(double bound, int n)
{
    const double top = n > 0 ? double(n) : 0.0;
    if (!(bound > 0.0)) // also a NaN
        return 0.0;
    return bound > top ? top : bound;
}

QByteArray SavingData::resultText(int n, const std::function<const double *(int z)> &rowOf,
                                  double x0, double z0, double x1, double z1)
{
    x0 = clipBound(x0, n);
    z0 = clipBound(z0, n);
    x1 = clipBound(x1, n);
    z1 = clipBound(z1, n);

    QByteArray text;
    QTextStream out(&text, QIODevice::WriteOnly);
    out << "#ORVO-CTImg\n";
    out << "# Range_X0       : " << x0 << "\n";
    out << "# Range_Y0       : " << z0 << "\n";
    out << "# Range_X1       : " << x1 << "\n";
    out << "# Range_Y1       : " << z1 << "\n";
    out << "# sx,sy, ex,ey   : " << x0 << "\t" << z0 << "\t" << x1 << "\t" << z1 << "\n";
    // The bounds are within 0..n now, so the truncations fit an int and every
    // pixel visited lies inside the result.
    for (int z = int(std::trunc(z0)); z < z1; ++z) {
        const double *row = rowOf(z);
        for (int x = int(std::trunc(x0)); x < x1; ++x)
            out << x << "\t" << z << "\t" << row[x] << "\n";
    }
    out.flush();
    return text;
}

QByteArray SavingData::resultText(int n, const double *values, double x0, double z0, double x1,
                                  double z1)
{
    return resultText(
        n, [values, n](int z) { return values + qsizetype(z) * n; }, x0, z0, x1, z1);
}

#include "XafsReference.h"

#include "util/TextFile.h"

#include <QDebug>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A number as the data line gives it; "nan" and "inf" are not measurements.
bool finiteNumber(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

} // namespace

bool XafsReference::isPlainName(const QString &text)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_]+$"));
    return word.match(text).hasMatch();
}

bool XafsReference::read(const QString &path)
{
    energies.clear();
    mu.clear();
    file = path;
    QStringList lines;
    const TextFile::Result result = TextFile::readLines(path, &lines);
    if (result != TextFile::Read) {
        qDebug() << "XAFS: can not read reference file" << path << TextFile::refusal(result);
        return false;
    }
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(separators, Qt::SkipEmptyParts);
        double e = 0.0, m = 0.0;
        if (fields.size() < 2 || !finiteNumber(fields[0], &e) || !finiteNumber(fields[1], &m)) {
            // Column names head a CSV file; text among the data means a damaged file.
            if (energies.empty())
                continue;
            qDebug() << "XAFS: reference line is not two numbers" << path << i + 1;
            energies.clear();
            mu.clear();
            return false;
        }
        if (!energies.empty() && !(e > energies.back())) {
            qDebug() << "XAFS: reference energies not increasing" << path << i + 1;
            energies.clear();
            mu.clear();
            return false;
        }
        energies.push_back(e);
        mu.push_back(m);
    }
    if (energies.size() < static_cast<size_t>(minPoints)) {
        qDebug() << "XAFS: reference has fewer than 5 points" << path;
        energies.clear();
        mu.clear();
        return false;
    }
    return true;
}

bool XafsReference::covers(double from, double to) const
{
    return !energies.empty() && energies.front() <= from && energies.back() >= to;
}

std::vector<double> XafsReference::onto(const std::vector<double> &grid) const
{
    std::vector<double> values(grid.size(), std::numeric_limits<double>::quiet_NaN());
    for (size_t k = 0; k < grid.size(); ++k) {
        const double e = grid[k];
        if (energies.empty() || !(e >= energies.front() && e <= energies.back()))
            continue;
        const size_t upper =
            std::upper_bound(energies.begin(), energies.end(), e) - energies.begin();
        if (upper >= energies.size()) {
            values[k] = mu.back();
            continue;
        }
        const size_t lower = upper - 1;
        const double t = (e - energies[lower]) / (energies[upper] - energies[lower]);
        values[k] = mu[lower] + t * (mu[upper] - mu[lower]);
    }
    return values;
}

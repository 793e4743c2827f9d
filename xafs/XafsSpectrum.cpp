#include "XafsSpectrum.h"

#include "util/SafeFile.h"

#include "ct/RunRecord.h"
#include "util/Numbers.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <functional>

#include <algorithm>
#include <cmath>

bool XafsSpectrum::load(const QString &path)
{
    stack.clear();
    grid.clear();
    std::vector<XafsPage> pages;
    if (!XafsTiff::readPages(path, &pages))
        return false;
    std::vector<double> energies;
    for (const XafsPage &p : pages) {
        const QJsonObject o = QJsonDocument::fromJson(p.description.toUtf8()).object();
        const double e = o.value(QLatin1String("energy_eV")).toDouble(NAN);
        const bool sameSize = p.width == pages.front().width && p.height == pages.front().height;
        if (!std::isfinite(e) || !sameSize || (!energies.empty() && !(e > energies.back()))) {
            qDebug() << "XAFS: not an energy stack" << path;
            return false;
        }
        energies.push_back(e);
    }
    // A build with a pixel size or an energy shift says so on its pages: both are
    // taken back, so that spectra are worked out as measured and given the settings
    // of the moment.
    const QJsonObject first = QJsonDocument::fromJson(pages.front().description.toUtf8()).object();
    const double shift = first.value(QLatin1String("energy_shift_eV")).toDouble(0.0);
    const double pixelSize = first.value(QLatin1String("pixel_size_um")).toDouble(0.0);
    if (std::isfinite(shift) && shift != 0.0) {
        for (double &e : energies)
            e -= shift;
    }
    if (std::isfinite(pixelSize) && pixelSize > 0.0) {
        const double perPixel = pixelSize * 1e-4;
        for (XafsPage &p : pages)
            for (float &v : p.values)
                v = static_cast<float>(v * perPixel);
    }
    stack = std::move(pages);
    grid = std::move(energies);
    left = Numbers::floorToInt(stack.front().x0);
    top = Numbers::floorToInt(stack.front().z0);
    return true;
}

int XafsSpectrum::meanOver(double x0, double z0, double x1, double z1,
                           std::vector<double> *mu) const
{
    mu->assign(grid.size(), 0.0);
    if (stack.empty())
        return 0;
    // Region pixels are the integers from trunc(x0) while x < x1, kept inside the stack.
    const int fromX = std::max(Numbers::saturateToInt(x0), left);
    const int fromZ = std::max(Numbers::saturateToInt(z0), top);
    const int toX = std::min(Numbers::saturateToInt(std::ceil(x1)), left + width());
    const int toZ = std::min(Numbers::saturateToInt(std::ceil(z1)), top + height());
    int counted = 0;
    for (int z = fromZ; z < toZ; ++z) {
        for (int x = fromX; x < toX; ++x) {
            const size_t i = static_cast<size_t>(z - top) * width() + (x - left);
            bool finite = true;
            for (const XafsPage &p : stack)
                finite = finite && std::isfinite(p.values[i]);
            if (!finite)
                continue;
            for (size_t k = 0; k < stack.size(); ++k)
                (*mu)[k] += stack[k].values[i];
            ++counted;
        }
    }
    for (double &v : *mu)
        v = counted > 0 ? v / counted : NAN;
    return counted;
}

namespace {

// A spectrum as written: energies shifted, µ in the unit of the settings, the fit.
struct Written
{
    std::vector<double> energies;
    std::vector<double> mu; // in the unit of the outputs
    std::vector<double> norm;
    std::vector<double> flat;
    XafsFit fit;
    XafsRanges ranges;
    QString rangeKind;
};

Written prepare(const std::vector<double> &energies, const std::vector<double> &muPerPixel,
                const XafsSettings &settings)
{
    Written w;
    const size_t count = std::min(energies.size(), muPerPixel.size());
    for (size_t k = 0; k < count; ++k)
        w.energies.push_back(energies[k] + settings.energyShift);
    // The fit is made on µ per pixel, where the minimum jump is given.
    const XafsNormaliser normaliser(w.energies, settings);
    w.fit = normaliser.fit(muPerPixel.data());
    if (!normaliser.problem().isEmpty())
        qDebug() << "XAFS: can not normalise," << normaliser.problem();
    w.ranges = normaliser.rangesAt(w.fit.e0);
    w.rangeKind = !normaliser.followsE0()    ? QStringLiteral("absolute")
                  : normaliser.defaultRule() ? QStringLiteral("default")
                                             : QStringLiteral("relative");
    const double unit = settings.unitFactor();
    for (size_t k = 0; k < count; ++k) {
        w.mu.push_back(unit == 1.0 ? muPerPixel[k] : muPerPixel[k] * unit);
        w.norm.push_back(normaliser.normalised(w.fit, k, muPerPixel[k]));
        w.flat.push_back(normaliser.flattened(w.fit, k, muPerPixel[k]));
    }
    return w;
}

QString number(double v)
{
    return std::isfinite(v) ? QString::number(v, 'g', 10) : QStringLiteral("nan");
}

// "Key: value" pairs of the header, the same in both file kinds.
QList<QPair<QString, QString>> headerFields(const Written &w, const XafsSettings &settings,
                                            const XafsSpectrumSource &source)
{
    const double unit = settings.unitFactor();
    QList<QPair<QString, QString>> f;
    f << qMakePair(QStringLiteral("data_name"), source.dataName)
      << qMakePair(QStringLiteral("slice"), QString::number(source.slice))
      << qMakePair(QStringLiteral("region"), QStringLiteral("%1 %2 %3 %4")
                                                 .arg(number(source.x0), number(source.z0),
                                                      number(source.x1), number(source.z1)))
      << qMakePair(QStringLiteral("pixels"), QString::number(source.pixels))
      << qMakePair(QStringLiteral("e0_eV"), number(w.fit.e0))
      << qMakePair(QStringLiteral("edge_step"), number(w.fit.jump * unit))
      << qMakePair(QStringLiteral("ranges"), w.rangeKind)
      << qMakePair(QStringLiteral("pre_edge_eV"),
                   number(w.ranges.pre1) + ' ' + number(w.ranges.pre2))
      << qMakePair(QStringLiteral("post_edge_eV"),
                   number(w.ranges.post1) + ' ' + number(w.ranges.post2))
      << qMakePair(QStringLiteral("nnorm"), QString::number(w.ranges.nnorm))
      << qMakePair(QStringLiteral("e0_method"), settings.e0Method == XafsE0Method::Half
                                                    ? QStringLiteral("half")
                                                    : QStringLiteral("slope"))
      << qMakePair(QStringLiteral("flatten"), QString::number(settings.flatten ? 1 : 0))
      << qMakePair(QStringLiteral("energy_shift_eV"), number(settings.energyShift))
      << qMakePair(QStringLiteral("unit"), settings.unitName());
    return f;
}

bool commit(QTextStream &text, SafeFile::Output &file, const QString &path)
{
    text.flush();
    if (text.status() != QTextStream::Ok)
        file.fail(QStringLiteral("the text could not be written"));
    if (!file.commit()) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    return true;
}

} // namespace

namespace {

// The header, then one row a measured energy: energy, µ, normalised µ (and the
// flattened µ), the columns apart by `separator`.
bool writeColumns(const QString &path, const Written &w, bool flatten, char separator,
                  const std::function<void(QTextStream &)> &header)
{
    SafeFile::Output file(path);
    if (!file.ok()) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    QTextStream text(file.device());
    text.setRealNumberPrecision(10);
    header(text);
    for (size_t k = 0; k < w.energies.size(); ++k) {
        text << w.energies[k] << separator << w.mu[k] << separator << w.norm[k];
        if (flatten)
            text << separator << w.flat[k];
        text << '\n';
    }
    return commit(text, file, path);
}

} // namespace

bool XafsSpectrum::writeCsv(const QString &path, const std::vector<double> &energies,
                            const std::vector<double> &mu, const XafsSettings &settings,
                            const XafsSpectrumSource &source)
{
    const Written w = prepare(energies, mu, settings);
    return writeColumns(path, w, settings.flatten, ',', [&](QTextStream &text) {
        // Lines a column reader skips; the columns below stay as they always were.
        for (const auto &field : headerFields(w, settings, source))
            text << "# " << field.first << ": " << field.second << '\n';
        text << (settings.flatten ? "energy_eV,mu,normalised_mu,flattened_mu\n"
                                  : "energy_eV,mu,normalised_mu\n");
    });
}

bool XafsSpectrum::writeXdi(const QString &path, const std::vector<double> &energies,
                            const std::vector<double> &mu, const XafsSettings &settings,
                            const XafsSpectrumSource &source)
{
    const Written w = prepare(energies, mu, settings);
    return writeColumns(path, w, settings.flatten, ' ', [&](QTextStream &text) {
        text << "# XDI/1.0 Orvo2/" << RunRecord::programKeys().value("version").toString() << '\n';
        text << "# Column.1: energy eV\n# Column.2: mu\n# Column.3: norm\n";
        if (settings.flatten)
            text << "# Column.4: flat\n";
        if (!settings.elementSymbol.isEmpty())
            text << "# Element.symbol: " << settings.elementSymbol << '\n'
                 << "# Element.edge: " << settings.elementEdge << '\n';
        for (const auto &field : headerFields(w, settings, source))
            text << "# Orvo2." << field.first << ": " << field.second << '\n';
        text << "#----\n# energy mu norm" << (settings.flatten ? " flat\n" : "\n");
    });
}

bool XafsSpectrum::write(const QString &path, const std::vector<double> &energies,
                         const std::vector<double> &mu, const XafsSettings &settings,
                         const XafsSpectrumSource &source)
{
    if (path.endsWith(QLatin1String(".xdi"), Qt::CaseInsensitive))
        return writeXdi(path, energies, mu, settings, source);
    return writeCsv(path, energies, mu, settings, source);
}

#include "XafsSpectrum.h"

#include "util/Numbers.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

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

bool XafsSpectrum::writeCsv(const QString &path, const std::vector<double> &energies,
                            const std::vector<double> &mu, const XafsSettings &settings)
{
    const XafsNormaliser normaliser(energies, settings);
    const XafsFit fit = normaliser.fit(mu.data());
    if (!normaliser.problem().isEmpty())
        qDebug() << "XAFS: can not normalise," << normaliser.problem();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    QTextStream text(&file);
    text.setRealNumberPrecision(10);
    text << "energy_eV,mu,normalised_mu\n";
    for (size_t k = 0; k < energies.size() && k < mu.size(); ++k)
        text << energies[k] << ',' << mu[k] << ',' << normaliser.normalised(fit, k, mu[k]) << '\n';
    text.flush();
    if (!file.commit()) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    return true;
}

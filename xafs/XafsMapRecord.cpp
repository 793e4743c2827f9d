#include "XafsMapRecord.h"

#include "xafs/XafsComponents.h"
#include "xafs/XafsRecord.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace {

QJsonValue energyOrWhole(double e)
{
    return std::isfinite(e) ? QJsonValue(e) : QJsonValue(QStringLiteral("whole scan"));
}

} // namespace

QJsonObject XafsMapRecord::settingsOf(const XafsMapSettings &s, const XafsPca *pca, int clusters)
{
    QJsonArray references;
    for (const XafsReference &r : s.references)
        references.append(QJsonObject{{"name", r.name}, {"file", r.file}});
    QJsonObject o{{"references", references},
                  {"fit_from_eV", energyOrWhole(s.fitFrom)},
                  {"fit_to_eV", energyOrWhole(s.fitTo)},
                  {"sum_to_one", s.sumToOne},
                  {"white_line_window_eV", s.whiteLineWindow},
                  {"seed", static_cast<double>(XafsMapSettings::seed)},
                  {"max_sample_voxels", static_cast<double>(XafsMapSettings::maxSample)}};
    if (pca) {
        o.insert("components_chosen", pca->chosen);
        o.insert("component_voxels", static_cast<double>(pca->voxels));
    }
    if (clusters > 0)
        o.insert("clusters", clusters);
    return o;
}

bool XafsMapRecord::add(const QString &xafsFolder, const QString &name, const QJsonObject &settings)
{
    const QString path = QDir(xafsFolder).filePath(XafsRecord::fileName(name));
    if (!QFileInfo(path).isFile()) {
        qDebug() << "XAFS: no record to add the maps' settings to" << path;
        return false;
    }
    QJsonObject record = XafsRecord::read(path);
    QJsonObject maps = record.value(QLatin1String("chemical_maps")).toObject();
    // A later step keeps what an earlier one recorded (the components chosen stay
    // beside the fit's references).
    for (auto it = settings.begin(); it != settings.end(); ++it)
        maps.insert(it.key(), it.value());
    return XafsRecord::write(path, record, QJsonObject{{"chemical_maps", maps}});
}

#include "RunRecord.h"

#include "AttenuationScale.h"
#include "ResultLayout.h"
#include "sets/Kvn.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>
#include <QSysInfo>

#include <algorithm>

#ifndef ORVO2_VERSION
#define ORVO2_VERSION "unknown"
#endif

std::optional<double> energyEvOf(const QString &energyText)
{
    const QString unit = unitOf(energyText).toLower();
    const double value = energyOf(energyText);
    if ((unit != QLatin1String("ev") && unit != QLatin1String("kev")) || !(value > 0.0))
        return std::nullopt;
    return value * unitFactorOf(energyText);
}

namespace {

QJsonValue energyValue(const QString &energyText)
{
    const std::optional<double> e = energyEvOf(energyText);
    return e ? QJsonValue(*e) : QJsonValue(QJsonValue::Null);
}

QJsonValue sliceValue(const std::optional<int> &slice)
{
    return slice ? QJsonValue(*slice) : QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonObject SliceInfo::toJson() const
{
    QJsonObject o;
    o["orvo2"] = "ct-slice";
    o["x0"] = x0;
    o["z0"] = z0;
    o["x1"] = x1;
    o["z1"] = z1;
    o["n"] = n;
    o["projections"] = projections;
    o["slice"] = slice;
    o["tag"] = tag;
    o["energy_eV"] = energyValue(tag);
    o["cor"] = cor;
    o["filter"] = filter;
    o["padded"] = padded ? 1 : 0;
    o["ring_removal"] = ringRemoval;
    o["scale"] = attenuationScaleRule();
    return o;
}

QString SliceInfo::description() const
{
    return QString::fromUtf8(QJsonDocument(toJson()).toJson(QJsonDocument::Compact));
}

QJsonObject RunRecord::programKeys()
{
    QJsonObject o;
    o["program"] = "Orvo2";
    o["version"] = ORVO2_VERSION;
    o["date"] = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    o["host"] = QSysInfo::machineHostName();
    return o;
}

QString RunRecord::filePath() const
{
    return QDir(folder).absoluteFilePath(ResultLayout::recordFileName(name, tag));
}

QJsonObject RunRecord::toJson() const
{
    QJsonObject o = settings;
    const QDir dir(folder);
    QJsonArray sliceList;
    for (auto it = slices.cbegin(); it != slices.cend(); ++it) {
        QJsonArray files;
        for (const QString &file : it.value())
            files.append(dir.relativeFilePath(file));
        sliceList.append(QJsonObject{{"slice", it.key()}, {"files", files}});
    }
    o["slices"] = sliceList;
    QJsonArray failureList;
    for (const Failure &f : failures)
        failureList.append(QJsonObject{{"slice", sliceValue(f.slice)}, {"reason", f.reason}});
    o["failures"] = failureList;
    return o;
}

QJsonObject RunRecord::mergedOver(const QJsonObject &earlier) const
{
    QJsonObject o = toJson();
    QSet<int> written;
    for (auto it = slices.cbegin(); it != slices.cend(); ++it)
        written.insert(it.key());
    // Entries sorted by slice number; this run's entries replace earlier ones.
    QMap<int, QJsonValue> entries;
    for (const QJsonValue &v : earlier.value("slices").toArray()) {
        const QJsonValue s = v.toObject().value("slice");
        if (s.isDouble() && !written.contains(s.toInt()))
            entries.insert(s.toInt(), v);
    }
    for (const QJsonValue &v : o.value("slices").toArray())
        entries.insert(v.toObject().value("slice").toInt(), v);
    QJsonArray sliceList;
    for (const QJsonValue &v : entries)
        sliceList.append(v);
    o["slices"] = sliceList;
    // Earlier failures of slices written since are settled; failures of no slice
    // belonged to their run alone.
    QJsonArray failureList;
    for (const QJsonValue &v : earlier.value("failures").toArray()) {
        const QJsonValue s = v.toObject().value("slice");
        if (s.isDouble() && !written.contains(s.toInt()))
            failureList.append(v);
    }
    for (const QJsonValue &v : o.value("failures").toArray())
        failureList.append(v);
    o["failures"] = failureList;
    return o;
}

bool RunRecord::write() const
{
    const QString path = filePath();
    QJsonObject earlier;
    QFile old(path);
    if (old.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(old.readAll());
        // A record of something else under this name is replaced, not merged.
        if (doc.isObject() && doc.object().value("program") == QLatin1String("Orvo2"))
            earlier = doc.object();
    }
    const QByteArray bytes = QJsonDocument(mergedOver(earlier)).toJson(QJsonDocument::Indented);
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    file.cancelWriting();
    qDebug() << "Can not write run record" << path;
    return false;
}

#include "XafsRecord.h"

#include "ct/RunRecord.h"
#include "util/SafeFile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QJsonValue numberOrNull(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

QString rangeKind(const XafsNormaliser &n)
{
    if (!n.followsE0())
        return QStringLiteral("absolute");
    return n.defaultRule() ? QStringLiteral("default") : QStringLiteral("relative");
}

} // namespace

QString XafsRecord::fileName(const QString &name)
{
    return name + QStringLiteral("-xafs.json");
}

QJsonObject XafsRecord::settingsOf(const XafsNormaliser &normaliser)
{
    const XafsSettings &s = normaliser.settingsUsed();
    QJsonObject o;
    o.insert("ranges", rangeKind(normaliser));
    if (!normaliser.followsE0()) {
        o.insert("pre_edge_eV", QJsonArray{normaliser.preEdge1(), normaliser.preEdge2()});
        o.insert("post_edge_eV", QJsonArray{normaliser.postEdge1(), normaliser.postEdge2()});
        o.insert("nnorm", s.nnorm >= 0 ? s.nnorm : 1);
    } else if (normaliser.defaultRule()) {
        o.insert("rule",
                 "pre-edge from the first energy to E0 + (first energy - E0) / 2, post-edge "
                 "from E0 + min(25 eV, (last energy - E0) / 3) to the last energy, clipped "
                 "to the scan");
        o.insert("nnorm", s.nnorm >= 0 ? QJsonValue(s.nnorm)
                                       : QJsonValue("2 above 300 eV of post-edge, 1 above "
                                                    "30 eV, else 0"));
    } else {
        o.insert("pre_relative_eV", QJsonArray{s.preRelative1, s.preRelative2});
        o.insert("norm_relative_eV", QJsonArray{s.normRelative1, s.normRelative2});
        o.insert("nnorm", s.nnorm >= 0 ? QJsonValue(s.nnorm)
                                       : QJsonValue("2 above 300 eV of post-edge, 1 above "
                                                    "30 eV, else 0"));
    }
    o.insert("flatten", s.flatten ? 1 : 0);
    o.insert("e0_method", s.e0Method == XafsE0Method::Half ? "half" : "slope");
    o.insert("e0_fixed_eV", numberOrNull(s.fixedE0));
    o.insert("e0_search",
             normaliser.followsE0()
                 ? "steepest rise from the third to the third-last energy"
                 : "steepest rise between the end of the pre-edge and the start of the post-edge");
    o.insert("min_jump_per_pixel", s.minJump);
    if (s.minJumpPercent > 0.0)
        o.insert("min_jump_percent", s.minJumpPercent);
    o.insert("register", s.registerEnergies ? 1 : 0);
    o.insert("energy_shift_eV", s.energyShift);
    o.insert("pixel_size_um", s.pixelSizeUm);
    o.insert("unit", s.unitName());
    if (!s.elementSymbol.isEmpty())
        o.insert("element", QJsonObject{{"symbol", s.elementSymbol}, {"edge", s.elementEdge}});
    return o;
}

bool XafsRecord::write(const QString &path, const QJsonObject &record, const QJsonObject &extra)
{
    QJsonObject o = RunRecord::programKeys();
    for (auto it = record.begin(); it != record.end(); ++it)
        o.insert(it.key(), it.value());
    for (auto it = extra.begin(); it != extra.end(); ++it)
        o.insert(it.key(), it.value());
    if (!SafeFile::writeBytes(path, QJsonDocument(o).toJson(), true)) {
        qDebug() << "Can not write result file" << path;
        return false;
    }
    return true;
}

QJsonObject XafsRecord::read(const QString &path)
{
    QByteArray bytes;
    const SafeFile::ReadResult result = SafeFile::readAll(path, 64 * 1024 * 1024, &bytes);
    if (result != SafeFile::Read) {
        if (result != SafeFile::CanNotOpen)
            qDebug() << "XAFS: record not read" << SafeFile::refusal(result) << path;
        return {};
    }
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    return doc.isObject() ? doc.object() : QJsonObject();
}

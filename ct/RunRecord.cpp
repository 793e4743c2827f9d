#include "RunRecord.h"

#include "AttenuationScale.h"
#include "ResultLayout.h"
#include "sets/Kvn.h"
#include "util/SafeFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Two runs saving into one folder each read, merge and rewrite the record; without
// a lock one run's rewrite drops the slices the other added in between. The lock
// file beside the record (not the record itself, which the rename replaces) makes
// the merges follow one another. flock is advisory and released when the
// descriptor closes, also when the program dies.
class RecordLock
{
public:
    explicit RecordLock(const QString &recordPath)
    {
        fd = ::open(QFile::encodeName(recordPath + QStringLiteral(".lock")).constData(),
                    O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
        if (fd < 0) {
            reason = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        struct stat info;
        // Only a regular file is a lock; anything planted there is left alone.
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            fd = -1;
            reason = QStringLiteral("its lock file is not a regular file");
            return;
        }
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~RecordLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RecordLock(const RecordLock &) = delete;
    RecordLock &operator=(const RecordLock &) = delete;
    bool held() const { return fd >= 0; }
    QString reason;

private:
    int fd = -1;
};

} // namespace

bool RunRecord::write() const
{
    const QString path = filePath();
    if (!SafeFile::isAbsentOrRegular(path)) {
        qDebug() << "Can not write run record (not a regular file)" << path;
        return false;
    }
    const RecordLock lock(path);
    if (!lock.held()) {
        qDebug() << "Can not write run record" << path << lock.reason;
        return false;
    }
    QJsonObject earlier;
    QByteArray old;
    const SafeFile::ReadResult read = SafeFile::readAll(path, maxBytes, &old);
    if (read != SafeFile::Read && read != SafeFile::CanNotOpen) {
        // Replacing a record that could not be read would drop the slices it lists.
        qDebug() << "Can not read run record" << SafeFile::refusal(read) << path;
        return false;
    }
    if (read == SafeFile::Read) {
        const QJsonDocument doc = QJsonDocument::fromJson(old);
        // A record of something else under this name is replaced, not merged.
        if (doc.isObject() && doc.object().value("program") == QLatin1String("Orvo2"))
            earlier = doc.object();
    }
    const QByteArray bytes = QJsonDocument(mergedOver(earlier)).toJson(QJsonDocument::Indented);
    if (SafeFile::writeBytes(path, bytes, true))
        return true;
    qDebug() << "Can not write run record" << path;
    return false;
}

#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The energy in eV that an energy text names ("7112_0eV", "7_112keV"); none when
// the text is not a number with the unit eV or keV.
std::optional<double> energyEvOf(const QString &energyText);

// What one saved slice is, as the float TIFF's ImageDescription carries it: one
// line of JSON, so that a slice file alone says where it lies and how to read
// its values.
struct SliceInfo
{
    // The clipped region whose pixels the file holds.
    double x0 = 0.0;
    double z0 = 0.0;
    double x1 = 0.0;
    double z1 = 0.0;
    int n = 0;
    int projections = 0;
    int slice = 0;
    QString tag;
    double cor = 0.0;
    QString filter = QStringLiteral("ramp");
    bool padded = false;
    int ringRemoval = 0;

    QJsonObject toJson() const;
    QString description() const;
};

// The record of the runs that saved one set's results, `<name>-<tag>.json` beside
// them: what was reconstructed from what, with which settings, which slices went
// to which files and what failed. Each run that saved into the set rewrites it,
// keeping the slices of earlier runs that this run did not write again.
class RunRecord
{
public:
    struct Failure
    {
        std::optional<int> slice;
        QString reason;
    };

    // The folder the record goes to and the set's name and tag.
    QString folder;
    QString name;
    QString tag;
    // Every top-level key other than "slices" and "failures".
    QJsonObject settings;
    // The files (absolute paths) written for each slice by this run.
    QMap<int, QStringList> slices;
    QList<Failure> failures;

    // "program", "version", "date" and "host" of this program now.
    static QJsonObject programKeys();
    QString filePath() const;

    // The record of this run alone; files relative to the record's folder.
    QJsonObject toJson() const;
    // This run's record over an earlier one of the same set: the earlier
    // slices that this run did not write again are kept, and their failures.
    QJsonObject mergedOver(const QJsonObject &earlier) const;
    // A record larger than this is damage, not a record: it is not read.
    static constexpr qint64 maxBytes = 16 * 1024 * 1024;

    // Under a lock beside the record, reads the record already there (if any),
    // merges, and replaces it atomically. False, with a debug line, when it can
    // not be written or the old one can not be read (it is then left as it was).
    bool write() const;
};

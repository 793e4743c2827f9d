#pragma once

// A small CT-XAFS data set, the batch script of a sequential run over it, and the
// comparison of two result folders: shared by the tests of one-set runs and of
// the SLURM array.

#include "DemoGenerator.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace SeqRunFixture {

// Five energies around the edge, every set in one folder (the sets are told
// apart by name), four slices of 64 pixels: a run takes a fraction of a second.
inline DemoSettings smallSettings(const QString &outDir)
{
    DemoSettings s;
    s.outDir = outDir;
    s.width = 64;
    s.height = 4;
    s.projections = 60;
    s.energies = 5;
    s.layout = DemoSettings::Layout::Flat;
    return s;
}

// The loop of a sequential run as a user writes it, saving data files, pictures,
// float TIFFs and run records into one sub folder per energy. Five energies are
// too few to search E0 in: spectra built from them take the edge as given.
inline QString sequentialScript(const DemoSettings &s, const QString &results)
{
    const QString data = s.outDir;
    return QStringLiteral("ct_rot_ax_is_v 1\n"
                          "seq_exec_dir \"%1/proj\"\n"
                          "seq_exec_select_i0 \"%1/i0\" *.img\n"
                          "bg_load \"%1/bg/%2\"\n"
                          "calc_ct2 1\n"
                          "ct_auto_exec 1\n"
                          "ct_threads 2\n"
                          "auto_save_data 1\n"
                          "auto_save_data_format both\n"
                          "auto_save_data_path \"%3\"\n"
                          "auto_save_data_name seq\n"
                          "auto_save_image 1\n"
                          "auto_save_image_path \"%3\"\n"
                          "auto_save_image_name seq\n"
                          "auto_save_in_sub_folders 1\n"
                          "auto_save_in_sub_folders_of_energy 1\n"
                          "xafs_e0 %6\n"
                          "EnergyLoop\n"
                          "seq_exec_set\n"
                          "ct_cor %4\n"
                          "ct_slice_from 0\n"
                          "ct_slice_to %5\n"
                          "calc_exec\n"
                          "seq_exec_next\n"
                          ":ifok :goto EnergyLoop\n")
        .arg(data, DemoGenerator::bgFileName(), results)
        .arg(s.corOrDefault())
        .arg(s.height - 1)
        .arg(s.edgeEnergy);
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A run record apart from when and where it was written.
inline QByteArray recordWithoutDateAndHost(const QByteArray &json)
{
    QJsonObject record = QJsonDocument::fromJson(json).object();
    record.remove(QStringLiteral("date"));
    record.remove(QStringLiteral("host"));
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

// The run record of a run that wrote no slice (a set whose images could not be
// read): it documents that failure and stays when a later run computes the set.
inline bool isRecordOfNothing(const QString &path)
{
    if (!path.endsWith(QLatin1String(".json")))
        return false;
    const QJsonObject record = QJsonDocument::fromJson(readFile(path)).object();
    return record.contains(QStringLiteral("slices")) &&
           record.value(QStringLiteral("slices")).toArray().isEmpty();
}

inline QStringList filesUnder(const QString &root, const QStringList &skipDirs)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(root).relativeFilePath(it.next());
        // The empty lock file beside a record only serialises its writers.
        if (rel.endsWith(QLatin1String(".json.lock")))
            continue;
        if (!skipDirs.contains(rel.section(QLatin1Char('/'), 0, 0)))
            files << rel;
    }
    files.sort();
    return files;
}

// What differs between two result folders: files present in one only (records of
// runs that wrote nothing apart), and files whose bytes differ (run records apart
// from date and host). Empty when equal.
inline QStringList differences(const QString &expected, const QString &actual,
                               const QStringList &skipDirs = {})
{
    const QStringList want = filesUnder(expected, skipDirs);
    const QStringList have = filesUnder(actual, skipDirs);
    QStringList diffs;
    for (const QString &f : want)
        if (!have.contains(f))
            diffs << QStringLiteral("missing ") + f;
    for (const QString &f : have)
        if (!want.contains(f) && !isRecordOfNothing(actual + QLatin1Char('/') + f))
            diffs << QStringLiteral("extra ") + f;
    for (const QString &f : want) {
        if (!have.contains(f))
            continue;
        QByteArray a = readFile(expected + QLatin1Char('/') + f);
        QByteArray b = readFile(actual + QLatin1Char('/') + f);
        if (f.endsWith(QLatin1String(".json"))) {
            a = recordWithoutDateAndHost(a);
            b = recordWithoutDateAndHost(b);
        }
        if (a != b)
            diffs << QStringLiteral("differs ") + f;
    }
    return diffs;
}

struct Run
{
    int status = -1; // exit status; -1 timed out, -2 crashed
    QString out;
    QString err;
};

// With `merged`, `out` holds both channels in the order they were written.
inline Run runProgram(const QString &program, const QStringList &args, const QString &workDir,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                      int timeoutMs = 120000, bool merged = false)
{
    Run r;
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessEnvironment(env);
    if (merged)
        p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.status = -1;
    } else {
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace SeqRunFixture

// The spectra commands in the real program, headless: results saved by a sequential
// run (written here as the reconstruction writes them), then xafs_build and
// xafs_spectrum from one script; ng when nothing could be built.

#include "tests/xafs/XafsResultFiles.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace XafsResultFiles;

class tst_XafsChain : public QObject
{
    Q_OBJECT

private slots:
    void buildsAndWritesSpectrum();
    void normalisationCommands_data();
    void normalisationCommands();

private:
    int run(const QByteArray &script, QString *log);
    QTemporaryDir dir;
};

int tst_XafsChain::run(const QByteArray &script, QString *log)
{
    QFile f(dir.filePath("xafs.bat"));
    if (!f.open(QIODevice::WriteOnly) || f.write(script) != script.size())
        return -3;
    f.close();
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ORVO2_EXE, {"-nw", "-e", "-c", dir.filePath("none.cfg"), "-b", f.fileName(), "-x"});
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    *log = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void tst_XafsChain::buildsAndWritesSpectrum()
{
    const QString results = dir.filePath("results");
    ResultWriter writer;
    writer.folder = results;
    writer.layout = {true, true, false};
    for (double e : {7090.0, 7100.0, 7110.0, 7115.0, 7120.0, 7130.0, 7150.0})
        QVERIFY(writer.write(e, {2}));
    const QByteArray script = "auto_save_data_path \"" + results.toUtf8() +
                              "\"\n"
                              "auto_save_data_name smp\n"
                              "auto_save_in_sub_folders 1\n"
                              "auto_save_in_sub_folders_of_energy 1\n"
                              "xafs_pre_edge 7080 7105\n"
                              "xafs_post_edge 7125 7160\n"
                              "xafs_build\n"
                              ":ifok :echo built\n"
                              "xafs_spectrum 10 8 13 10 2 spectrum.csv\n"
                              ":ifok :echo spectrum written\n"
                              "auto_save_data_name other\n"
                              "xafs_build\n"
                              ":ifng :echo nothing built\n";
    QString log;
    // The build that finds nothing answers ng and is the run's failure: exit status 2.
    QCOMPARE(run(script, &log), 2);
    QVERIFY2(log.contains("failures 1,"), qPrintable(log));
    QVERIFY2(log.contains(":echo built\n") && log.contains(":echo spectrum written\n") &&
                 log.contains(":echo nothing built\n"),
             qPrintable(log));
    QFile csv(results + "/xafs/spectrum.csv");
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll())
                                  .split('\n', Qt::SkipEmptyParts)
                                  .filter(QRegularExpression("^[^#]")); // `#` lines skipped
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines[0], QStringLiteral("energy_eV,mu,normalised_mu"));
    double truth = 0.0;
    for (int z : {8, 9})
        for (int x : {10, 11, 12})
            truth += Phantom::mu(x, z, 7150.0) / 6.0;
    const QStringList last = lines[7].split(',');
    QVERIFY(std::abs(last[1].toDouble() - truth) < 1e-6);
    QVERIFY(std::abs(last[2].toDouble() - 1.0) < 1e-4);
    QVERIFY(QFile::exists(results + "/xafs/smp-jump-00002.tif"));
}

// Each normalisation word answers ok, or ng with its reason when its value is unusable;
// a relative, flattened build with an element leaves its XDI file, flattened stack and
// record.
void tst_XafsChain::normalisationCommands_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("fileText");
    // A word's own refusal, or the argument ranges' before it: both name the line.
    const QString none;
    QTest::newRow("relative ranges out of order")
        << QByteArray("xafs_norm_relative -10 -30 20 100") << false
        << "XAFS: relative ranges need PRE1 < PRE2 < 0 < NORM1 < NORM2" << none << none;
    QTest::newRow("nnorm 4") << QByteArray("xafs_nnorm 4") << false << "xafs_nnorm 4" << none
                             << none;
    QTest::newRow("unknown E0 method") << QByteArray("xafs_e0_method third") << false
                                       << "XAFS: E0 method must be slope or half" << none << none;
    QTest::newRow("element without its edge")
        << QByteArray("xafs_element Fe") << false << "XAFS: element needs a symbol and an edge"
        << none << none;
    QTest::newRow("negative pixel size")
        << QByteArray("ct_pixel_size_um -1") << false << "ct_pixel_size_um -1" << none << none;
    QTest::newRow("XDI of a relative, flattened build")
        << QByteArray("xafs_element Fe K\nxafs_flatten 1\nxafs_nnorm 0\nxafs_e0_method half\n"
                      "xafs_norm_relative -30 -5 5 40\nxafs_energy_shift 0.5\n"
                      "ct_pixel_size_um 2\nxafs_build\nxafs_spectrum 10 8 13 10 2 grain.xdi")
        << true << "XAFS: built slices"
        << "grain.xdi"
        << "# Element.symbol: Fe";
    QTest::newRow("spectrum of a slice not built")
        << QByteArray("xafs_build\nxafs_spectrum 10 8 13 10 5 s.csv") << false
        << "XAFS: slice 5 is not built" << none << none;
    QTest::newRow("the record") << QByteArray("xafs_build") << true << "XAFS: built slices 2"
                                << "smp-xafs.json"
                                << "\"ranges\": \"default\"";
}

void tst_XafsChain::normalisationCommands()
{
    QFETCH(QByteArray, lines);
    QFETCH(bool, ok);
    QFETCH(QString, logText);
    QFETCH(QString, file);
    QFETCH(QString, fileText);
    QTemporaryDir results;
    ResultWriter writer;
    writer.folder = results.path();
    for (double e : {7090.0, 7100.0, 7105.0, 7110.0, 7115.0, 7120.0, 7125.0, 7135.0, 7150.0})
        QVERIFY(writer.write(e, {2}));
    const QByteArray script = "auto_save_data_path \"" + results.path().toUtf8() +
                              "\"\nauto_save_data_name smp\n" + lines +
                              (ok ? "\n:ifok :echo row ok\n" : "\n:ifng :echo row ng\n");
    QString log;
    // A refused value leaves the run's status alone; a spectrum not written is a failure.
    QCOMPARE(run(script, &log), lines.contains("xafs_spectrum") && !ok ? 2 : 0);
    QVERIFY2(log.contains(ok ? ":echo row ok\n" : ":echo row ng\n"), qPrintable(log));
    QVERIFY2(log.contains(logText), qPrintable(log));
    if (file.isEmpty())
        return;
    QFile written(results.filePath("xafs/" + file));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(written.readAll()).contains(fileText));
    if (file.endsWith(".xdi"))
        QVERIFY(QFile::exists(results.filePath("xafs/smp-flat-00002.tif")));
}

QTEST_GUILESS_MAIN(tst_XafsChain)
#include "tst_XafsChain.moc"

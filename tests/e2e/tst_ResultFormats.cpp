// The program run headless with the padded filter and both result formats over
// a sequential run: every set's float TIFF against its ".dat", and its run
// record; an unknown filter name refused.

#include "DemoGenerator.h"
#include "ct/FloatTiff.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

class TestResultFormats : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sequentialRunWithBothFormats();
    void tifffileReadsTheSlices();

private:
    int run(const QString &script, QString &log);
    QTemporaryDir dir;
    DemoSettings settings;
    QString out;
};

void TestResultFormats::initTestCase()
{
    QVERIFY(dir.isValid());
    settings.outDir = dir.filePath("demo");
    settings.width = 56;
    settings.height = 6;
    settings.projections = 40;
    settings.energies = 2;
    settings.noise = false;
    settings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(settings).generate());
    out = dir.filePath("results");
}

int TestResultFormats::run(const QString &script, QString &log)
{
    const QString path = dir.filePath("run.bat");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return -3;
    f.write(script.toUtf8());
    f.close();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ORVO2_EXE, {"-nw", "-e", "-c", dir.filePath("none.cfg"), "-b", path, "-x"});
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    log = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void TestResultFormats::sequentialRunWithBothFormats()
{
    const QString data = settings.outDir;
    const double cor = settings.corOrDefault();
    const QString script =
        QString("ct_rot_ax_is_v 1\nseq_exec_dir \"%1/proj\"\n"
                "seq_exec_select_i0 \"%1/i0\" *.img\nbg_load \"%1/bg/%2\"\n"
                "ct_filter no-such-window\n:ifng :echo filter refused\n"
                "ct_filter hann\nct_filter_padded 1\nauto_save_data_format both\n"
                "calc_ct2 1\nct_auto_exec 1\nct_threads 2\n"
                "auto_save_data 1\nauto_save_data_path \"%3\"\nauto_save_data_name ct\n"
                "auto_save_in_sub_folders 1\nauto_save_in_sub_folders_of_energy 1\n"
                "Loop\nseq_exec_set\nct_cor %4\nct_slice_from 2\nct_slice_to 3\n"
                "calc_exec\nseq_exec_next\n:ifok :goto Loop\n")
            .arg(data, DemoGenerator::bgFileName(), out)
            .arg(cor);
    QString log;
    QCOMPARE(run(script, log), 0);
    QVERIFY2(log.contains("Unknown CT filter"), qPrintable(log));
    QVERIFY2(log.contains(":echo filter refused"), qPrintable(log));

    DemoGenerator gen(settings);
    for (int k = 0; k < settings.energies; ++k) {
        const QString tag = DemoGenerator::energyText(gen.energyAt(k));
        const QDir folder(out + "/" + tag);
        QFile recordFile(folder.filePath("ct-" + tag + ".json"));
        QVERIFY2(recordFile.open(QIODevice::ReadOnly), qPrintable(recordFile.fileName()));
        const QJsonObject record = QJsonDocument::fromJson(recordFile.readAll()).object();
        // Each set names the I0 of its own energy and the settings of the run.
        QCOMPARE(QFileInfo(record.value("i0_file").toString()).fileName(),
                 DemoGenerator::i0FileName(tag));
        QCOMPARE(QFileInfo(record.value("bg_file").toString()).fileName(),
                 DemoGenerator::bgFileName());
        QCOMPARE(record.value("cor").toDouble(), cor);
        QCOMPARE(record.value("filter").toString(), QStringLiteral("hann"));
        QCOMPARE(record.value("padded").toInt(), 1);
        QCOMPARE(record.value("energy_eV").toDouble(), gen.energyAt(k));
        QCOMPARE(record.value("projections").toInt(), settings.projections);
        QCOMPARE(record.value("scale").toString(),
                 QStringLiteral("value / (2P) = attenuation per pixel"));
        QCOMPARE(record.value("slices").toArray().size(), 2);
        QCOMPARE(record.value("failures").toArray().size(), 0);

        for (int slice : {2, 3}) {
            const QString stem = QString("ct-%1-%2").arg(tag).arg(slice, 5, 10, QChar('0'));
            QFile tif(folder.filePath(stem + ".tif"));
            QVERIFY(tif.open(QIODevice::ReadOnly));
            FloatTiff image;
            QVERIFY(FloatTiff::decode(tif.readAll(), &image));
            QFile dat(folder.filePath(stem + ".dat"));
            QVERIFY(dat.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = dat.readAll().split('\n');
            int pixels = 0;
            for (int i = 6; i < lines.size(); ++i) {
                const QList<QByteArray> items = lines[i].split('\t');
                if (items.size() != 3)
                    continue;
                const int x = items[0].toInt() - int(image.xPosition);
                const int z = items[1].toInt() - int(image.yPosition);
                QVERIFY(x >= 0 && z >= 0 && x < image.width && z < image.height);
                const double value = items[2].toDouble();
                const double stored = image.values[size_t(z) * image.width + x];
                // The text keeps 6 significant digits, the TIFF a float.
                QVERIFY2(std::fabs(stored - value) <= 6e-6 * std::fabs(value) + 1e-30,
                         qPrintable(QString("%1 %2 %3").arg(stem).arg(stored).arg(value)));
                ++pixels;
            }
            QCOMPARE(pixels, image.width * image.height);
        }
    }
}

void TestResultFormats::tifffileReadsTheSlices()
{
    // tifffile, as Python users open the slices.
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
    QProcess probe;
    probe.start(python, {"-c", "import tifffile, numpy"});
    if (python.isEmpty() || !probe.waitForFinished(60000) || probe.exitCode() != 0)
        QSKIP("python3 with tifffile and numpy is not installed");
    DemoGenerator gen(settings);
    const QString tag = DemoGenerator::energyText(gen.energyAt(1));
    const QString stem = QString("%1/%2/ct-%2-00003").arg(out, tag);
    const QString code = QString("import json, numpy, tifffile\n"
                                 "t = tifffile.TiffFile('%1.tif')\n"
                                 "p = t.pages[0]\n"
                                 "a = p.asarray()\n"
                                 "d = json.loads(p.description)\n"
                                 "assert t.byteorder == '<' and a.dtype == numpy.float32\n"
                                 "assert d['orvo2'] == 'ct-slice' and d['slice'] == 3\n"
                                 "rows = numpy.loadtxt('%1.dat', comments='#')\n"
                                 "v = a[rows[:, 1].astype(int) - int(d['z0']), "
                                 "rows[:, 0].astype(int) - int(d['x0'])]\n"
                                 "assert numpy.all(numpy.abs(v - rows[:, 2]) <= "
                                 "6e-6 * numpy.abs(rows[:, 2]) + 1e-30)\n"
                                 "print('tifffile ok', a.shape)\n")
                             .arg(stem);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(python, {"-c", code});
    QVERIFY(p.waitForFinished(60000));
    const QString output = QString::fromUtf8(p.readAll());
    QVERIFY2(p.exitCode() == 0 && output.contains("tifffile ok"), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestResultFormats)
#include "tst_ResultFormats.moc"

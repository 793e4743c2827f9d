#include "tests/e2e/SeqRunFixture.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace SeqRunFixture;

// What a run over the sets of a data directory keeps the same for every energy:
// the grid (N), whatever centre each set gets; and the I0 of each set's energy, or
// a warning, or a refusal.
class TestSequentialGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneGridForEverySet_data();
    void oneGridForEverySet();
    void i0FarFromTheSet_data();
    void i0FarFromTheSet();

private:
    Run orvo2(const QString &script);
    QJsonObject record(const QString &results, int set) const;
    QTemporaryDir dir;
    DemoSettings settings;
};

void TestSequentialGrid::initTestCase()
{
    QVERIFY(dir.isValid());
    settings = smallSettings(dir.filePath("data"));
    settings.energies = 3;
    settings.cor = 32.0;
    QVERIFY(DemoGenerator(settings).generate());
    QVERIFY(writeFile(dir.filePath("none.cfg"), ""));
}

Run TestSequentialGrid::orvo2(const QString &lines)
{
    const QString script = dir.filePath("run.bat");
    writeFile(script, lines.toUtf8());
    return runProgram(ORVO2_EXE, {"-nw", "-e", "-c", dir.filePath("none.cfg"), "-b", script, "-x"},
                      dir.path(), QProcessEnvironment::systemEnvironment(), 120000, true);
}

QJsonObject TestSequentialGrid::record(const QString &results, int set) const
{
    const QString tag = DemoGenerator::energyText(DemoGenerator(settings).energyAt(set));
    const QByteArray json = readFile(QStringLiteral("%1/%2/seq-%2.json").arg(results, tag));
    return QJsonDocument::fromJson(json).object();
}

namespace {

// Sets 0 and 1 of the directory, each reconstructed at its own centre.
QString twoSets(const QString &data, const QString &results, const QString &before, double cor0,
                double cor1)
{
    QString s = QStringLiteral("ct_rot_ax_is_v 1\nseq_exec_dir \"%1/proj\"\n"
                               "seq_exec_select_i0 \"%1/i0\" *.img\nbg_load \"%1/bg/%2\"\n"
                               "calc_ct2 1\nct_auto_exec 1\nct_slice_from 0\nct_slice_to 1\n"
                               "auto_save_data 1\nauto_save_data_format tiff\n"
                               "auto_save_data_path \"%3\"\nauto_save_data_name seq\n"
                               "auto_save_in_sub_folders 1\nauto_save_in_sub_folders_of_energy 1\n")
                    .arg(data, DemoGenerator::bgFileName(), results);
    s += before;
    s += QStringLiteral("seq_exec_set\nct_cor %1\ncalc_exec\nseq_exec_next\n"
                        "seq_exec_set\nct_cor %2\ncalc_exec\n")
             .arg(cor0, 0, 'f', 3)
             .arg(cor1, 0, 'f', 3);
    return s;
}

} // namespace

void TestSequentialGrid::oneGridForEverySet_data()
{
    QTest::addColumn<double>("cor0");
    QTest::addColumn<double>("cor1");
    // 64 columns: a centre of 32.000 leaves 31 samples on its right, 32.001 only 30.
    QTest::newRow("a thousandth past the middle") << 32.0 << 32.001;
    QTest::newRow("far off the middle: ends carried on") << 32.0 << 24.5;
    QTest::newRow("first set off the middle") << 24.5 << 32.0;
}

void TestSequentialGrid::oneGridForEverySet()
{
    QFETCH(double, cor0);
    QFETCH(double, cor1);
    const QString results = dir.filePath(QStringLiteral("grid-%1").arg(QTest::currentDataTag()));
    const Run run = orvo2(twoSets(settings.outDir, results, QString(), cor0, cor1));
    QVERIFY2(run.status == 0, qPrintable(run.out));
    const QJsonObject first = record(results, 0);
    const QJsonObject second = record(results, 1);
    QCOMPARE(second.value("cor").toDouble(), cor1);
    QVERIFY(first.value("n").toInt() > 0);
    QCOMPARE(second.value("n").toInt(), first.value("n").toInt());
    QCOMPARE(second.value("region").toArray(), first.value("region").toArray());
}

void TestSequentialGrid::i0FarFromTheSet_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("secondComputed");
    QTest::newRow("no limit: a warning") << QString() << 0 << true;
    QTest::newRow("limit above the gap") << "seq_exec_i0_max_gap 30\n" << 0 << true;
    QTest::newRow("limit below the gap: refused") << "seq_exec_i0_max_gap 5\n" << 2 << false;
}

void TestSequentialGrid::i0FarFromTheSet()
{
    QFETCH(QString, limit);
    QFETCH(int, status);
    QFETCH(bool, secondComputed);
    // Set 1's own I0 is missing: the nearest lies a whole step (20 eV) away.
    const DemoGenerator generator(settings);
    const QString i0Dir = dir.filePath(QStringLiteral("i0-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(i0Dir));
    for (const int k : {0, 2}) {
        const QString name =
            DemoGenerator::i0FileName(DemoGenerator::energyText(generator.energyAt(k)));
        QVERIFY(QFile::copy(settings.outDir + "/i0/" + name, i0Dir + "/" + name));
    }
    const QString results =
        dir.filePath(QStringLiteral("i0-results-%1").arg(QTest::currentDataTag()));
    QString script = twoSets(settings.outDir, results, limit, 32.0, 32.0);
    script.replace(settings.outDir + "/i0\"", i0Dir + "\"");
    const Run run = orvo2(script);
    QCOMPARE(run.status, status);
    const QString warning = QStringLiteral("I0 far from the set's energy : %1 %2")
                                .arg(generator.energyAt(1))
                                .arg(generator.energyAt(0));
    const QString refusal = QStringLiteral("beyond seq_exec_i0_max_gap");
    QVERIFY2(run.out.contains(secondComputed ? warning : refusal), qPrintable(run.out));
    QCOMPARE(record(results, 0).value("i0_energy_eV").toDouble(), generator.energyAt(0));
    QCOMPARE(record(results, 1).value("i0_energy_eV").toDouble(),
             secondComputed ? generator.energyAt(0) : 0.0);
}

QTEST_GUILESS_MAIN(TestSequentialGrid)
#include "tst_SequentialGrid.moc"

// The result file formats: the fast "#ORVO-CTImg" text against the text stream
// it replaces, and the float TIFF read back through libtiff.

#include "ct/DataSaver.h"
#include "ct/FloatTiff.h"
#include "ct/RunRecord.h"
#include "ct/SavingData.h"
#include "imgdata/ImgData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The data text as it was written through QTextStream, kept here as the
// reference for the fast writer.
QByteArray streamText(int n, const double *values, double x0, double z0, double x1, double z1)
{
    x0 = SavingData::clipBound(x0, n);
    z0 = SavingData::clipBound(z0, n);
    x1 = SavingData::clipBound(x1, n);
    z1 = SavingData::clipBound(z1, n);
    QByteArray text;
    QTextStream out(&text, QIODevice::WriteOnly);
    out << "#ORVO-CTImg\n";
    out << "# Range_X0       : " << x0 << "\n";
    out << "# Range_Y0       : " << z0 << "\n";
    out << "# Range_X1       : " << x1 << "\n";
    out << "# Range_Y1       : " << z1 << "\n";
    out << "# sx,sy, ex,ey   : " << x0 << "\t" << z0 << "\t" << x1 << "\t" << z1 << "\n";
    for (int z = int(std::trunc(z0)); z < z1; ++z)
        for (int x = int(std::trunc(x0)); x < x1; ++x)
            out << x << "\t" << z << "\t" << values[qsizetype(z) * n + x] << "\n";
    out.flush();
    return text;
}

// Random values of the given kind; the special values lead.
std::vector<double> valuesOf(const QString &kind, int count)
{
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> v(size_t(count), 0.0);
    for (double &x : v) {
        if (kind == "slice values") {
            x = 0.3 * unit(random);
        } else if (kind == "all magnitudes") {
            x = unit(random) * std::pow(10.0, int(random() % 80) - 40);
        } else if (kind == "any bits") {
            const quint64 bits = random();
            std::memcpy(&x, &bits, sizeof x);
        } else if (kind == "decimal ties") {
            // 7 significant digits ending in 5: the rounding of the 6th digit
            // depends on the binary value's side of the tie.
            x = (double(random() % 9000000 + 1000000) + 0.0) / std::pow(10.0, int(random() % 12));
            x = std::round(x / 10) * 10 + 5;
            x /= std::pow(10.0, int(random() % 10));
        } else if (kind == "binary ties") {
            // Exact ties in binary: 6 digits and a 5 that the double holds exactly.
            x = std::ldexp(double(random() % 4000000) - 2000000.0, -int(random() % 16));
        }
    }
    const double specials[] = {0.0,
                               -0.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::denorm_min(),
                               -std::numeric_limits<double>::max(),
                               999999.5,
                               9.999995,
                               0.0001,
                               0.000099999951,
                               123456.0,
                               1234567.0};
    for (size_t i = 0; i < std::size(specials) && i < v.size(); ++i)
        v[i] = specials[i];
    return v;
}

} // namespace

class tst_ResultFiles : public QObject
{
    Q_OBJECT

private slots:
    void datTextIsTheStreamText_data();
    void datTextIsTheStreamText();
    void floatTiffRoundTrip();
    void floatTiffRefusesMismatchedSizes();
    void runRecordsOfASequentialRun_data();
    void runRecordsOfASequentialRun();
    void runRecordMergesEarlierRuns();
};

void tst_ResultFiles::datTextIsTheStreamText_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("z0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("z1");
    QTest::newRow("slice values, whole result") << "slice values" << 0.0 << 0.0 << 128.0 << 128.0;
    QTest::newRow("all magnitudes, fractional region")
        << "all magnitudes" << 2.5 << 3.25 << 100.75 << 127.5;
    QTest::newRow("any bits") << "any bits" << 0.0 << 0.0 << 128.0 << 128.0;
    QTest::newRow("decimal ties") << "decimal ties" << 0.0 << 0.0 << 128.0 << 128.0;
    QTest::newRow("binary ties") << "binary ties" << 0.0 << 0.0 << 128.0 << 128.0;
    QTest::newRow("region beyond the result") << "slice values" << -5.0 << 1e-7 << 1e9 << 64.0;
}

void tst_ResultFiles::datTextIsTheStreamText()
{
    QFETCH(QString, kind);
    QFETCH(double, x0);
    QFETCH(double, z0);
    QFETCH(double, x1);
    QFETCH(double, z1);
    const int n = 128;
    const std::vector<double> v = valuesOf(kind, n * n);
    const QByteArray expected = streamText(n, v.data(), x0, z0, x1, z1);
    const QByteArray text = SavingData::resultText(n, v.data(), x0, z0, x1, z1);
    if (text != expected) {
        const QList<QByteArray> a = text.split('\n');
        const QList<QByteArray> b = expected.split('\n');
        for (int i = 0; i < std::min(a.size(), b.size()); ++i)
            QCOMPARE(a[i], b[i]);
    }
    QCOMPARE(text, expected);
}

void tst_ResultFiles::floatTiffRoundTrip()
{
    FloatTiff tiff;
    tiff.width = 5;
    tiff.height = 3;
    tiff.xPosition = 12;
    tiff.yPosition = 7;
    tiff.description = QStringLiteral("{\"orvo2\":\"ct-slice\",\"tag\":\"7120eV µ\"}");
    for (int i = 0; i < 15; ++i)
        tiff.values.push_back(float(std::pow(-1.5, i) * 1e-3));
    const QByteArray bytes = tiff.encode();
    // Little-endian classic TIFF.
    QVERIFY(bytes.startsWith(QByteArray("II*\0", 4)));

    FloatTiff back;
    QVERIFY(FloatTiff::decode(bytes, &back));
    QCOMPARE(back.width, 5);
    QCOMPARE(back.height, 3);
    QCOMPARE(back.values, tiff.values);
    QCOMPARE(back.xPosition, 12.0);
    QCOMPARE(back.yPosition, 7.0);
    QCOMPARE(back.description, tiff.description);

    // The program's own image reader opens it as a float image.
    QTemporaryDir dir;
    QFile file(dir.filePath("slice.tif"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    std::unique_ptr<ImgData> image(ImgData::newImgData(ImgData::TIFF));
    image->fileName = file.fileName();
    QVERIFY(image->open());
    QCOMPARE(image->width, 5);
    QCOMPARE(image->height, 3);
    std::vector<double> line(5);
    const double *row = image->getLine(2, line.data());
    for (int x = 0; x < 5; ++x)
        QCOMPARE(row[x], double(tiff.values[10 + x]));
}

void tst_ResultFiles::floatTiffRefusesMismatchedSizes()
{
    FloatTiff tiff;
    tiff.width = 4;
    tiff.height = 4;
    tiff.values.assign(15, 1.0f);
    QVERIFY(tiff.encode().isEmpty());
    FloatTiff back;
    QVERIFY(!FloatTiff::decode(QByteArray("II*\0garbage", 11), &back));
}

namespace {

QJsonObject readRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

SavingData *resultRecord(const QString &path, const QString &tag, int slice, bool tiff)
{
    auto *record = new SavingData(path, "ct", tag, slice);
    record->data = "#ORVO-CTImg\n";
    if (tiff)
        record->tiff = "II*";
    return record;
}

RunRecord *recordOf(const QString &path, const QString &tag, const QString &i0, double cor)
{
    auto *record = new RunRecord;
    record->folder = path;
    record->name = "ct";
    record->tag = tag;
    record->settings = RunRecord::programKeys();
    record->settings["i0_file"] = i0;
    record->settings["bg_file"] = "dark.img";
    record->settings["cor"] = cor;
    record->settings["filter"] = "ramp";
    record->settings["padded"] = 1;
    return record;
}

} // namespace

void tst_ResultFiles::runRecordsOfASequentialRun_data()
{
    QTest::addColumn<bool>("energyFolders");
    QTest::newRow("sub folders of energy") << true;
    QTest::newRow("one folder") << false;
}

void tst_ResultFiles::runRecordsOfASequentialRun()
{
    QFETCH(bool, energyFolders);
    QTemporaryDir dir;
    DataSaver saver;
    saver.setSubFolders(energyFolders, true, false);
    const QString tags[] = {"7100_0eV", "7120_0eV"};
    for (int set = 0; set < 2; ++set) {
        const QString &tag = tags[set];
        for (int slice = 3; slice <= 4; ++slice)
            saver.saveDataWDiscard(resultRecord(dir.path(), tag, slice, true));
        auto *failed = new SavingData(dir.path(), "ct", tag, 5);
        failed->failure = "no usable sinogram";
        saver.saveDataWDiscard(failed);
        saver.writeRunRecordWDiscard(
            recordOf(dir.path(), tag, QString("i0-%1.img").arg(tag), 60.5 + set),
            {DataSaver::sourceKey(dir.path(), "ct", tag)});
    }
    for (int set = 0; set < 2; ++set) {
        const QString &tag = tags[set];
        const QString folder = energyFolders ? dir.filePath(tag) : dir.path();
        const QJsonObject o = readRecord(QDir(folder).filePath("ct-" + tag + ".json"));
        QCOMPARE(o.value("program").toString(), QStringLiteral("Orvo2"));
        QCOMPARE(o.value("i0_file").toString(), "i0-" + tag + ".img");
        QCOMPARE(o.value("bg_file").toString(), QStringLiteral("dark.img"));
        QCOMPARE(o.value("cor").toDouble(), 60.5 + set);
        QCOMPARE(o.value("filter").toString(), QStringLiteral("ramp"));
        const QJsonArray slices = o.value("slices").toArray();
        QCOMPARE(slices.size(), 2);
        QCOMPARE(slices[0].toObject().value("slice").toInt(), 3);
        const QJsonArray files = slices[1].toObject().value("files").toArray();
        QCOMPARE(files.size(), 2);
        QCOMPARE(files[0].toString(), "ct-" + tag + "-00004.dat");
        QCOMPARE(files[1].toString(), "ct-" + tag + "-00004.tif");
        QVERIFY(QFile::exists(QDir(folder).filePath(files[1].toString())));
        const QJsonArray failures = o.value("failures").toArray();
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].toObject().value("slice").toInt(), 5);
        QCOMPARE(failures[0].toObject().value("reason").toString(),
                 QStringLiteral("no usable sinogram"));
    }
}

void tst_ResultFiles::runRecordMergesEarlierRuns()
{
    QTemporaryDir dir;
    DataSaver saver;
    const QString key = DataSaver::sourceKey(dir.path(), "ct", "t");
    const QString path = dir.filePath("ct-t.json");
    auto run = [&](const QList<int> &slices, double cor) {
        for (int slice : slices)
            saver.saveDataWDiscard(resultRecord(dir.path(), "t", slice, false));
        saver.writeRunRecordWDiscard(recordOf(dir.path(), "t", "i0.img", cor), {key});
    };
    run({1, 2}, 10.0);
    auto *failed = new SavingData(dir.path(), "ct", "t", 3);
    failed->failure = "no usable sinogram";
    saver.saveDataWDiscard(failed);
    run({}, 11.0);
    QCOMPARE(readRecord(path).value("failures").toArray().size(), 1);
    run({3, 2}, 12.0);
    const QJsonObject o = readRecord(path);
    // The latest run's settings, the slices of all runs, the failure settled.
    QCOMPARE(o.value("cor").toDouble(), 12.0);
    const QJsonArray slices = o.value("slices").toArray();
    QCOMPARE(slices.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(slices[i].toObject().value("slice").toInt(), i + 1);
    QCOMPARE(o.value("failures").toArray().size(), 0);
    // A run that saved nothing leaves the record alone.
    const QByteArray before = readAll(path);
    saver.writeRunRecordWDiscard(recordOf(dir.path(), "t", "other.img", 0.0), {key});
    QCOMPARE(readAll(path), before);
}

QTEST_GUILESS_MAIN(tst_ResultFiles)
#include "tst_ResultFiles.moc"

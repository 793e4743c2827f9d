#include "ct/DataSaver.h"
#include "ct/ResultLayout.h"
#include "ct/SavingData.h"
#include "ct/SavingImg.h"
#include "tests/support/TestSupport.h"

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

QByteArray readAll(const QString &filePath)
{
    QFile file(filePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file under root, relative, sorted: shows stray temporaries as well.
QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// A 4 x 4 result whose values exercise the stream's number forms.
std::vector<double> smallResult()
{
    std::vector<double> v(16);
    for (int z = 0; z < 4; ++z)
        for (int x = 0; x < 4; ++x)
            v[z * 4 + x] = z * 10 + x + 0.25;
    v[1 * 4 + 1] = -1.23456789e-7;
    v[1 * 4 + 2] = 1234567.0;
    v[2 * 4 + 1] = 0.0;
    return v;
}

} // namespace

// Stands in for a reconstruction engine on its own thread.
class RecordSender : public QObject
{
    Q_OBJECT
public:
    QString folder;
signals:
    void saveDataWDiscard(SavingData *data);
public slots:
    void sendRecords(int count)
    {
        for (int i = 0; i < count; ++i) {
            auto *record = new SavingData(folder, "ct", "E", i % 5);
            record->data = QByteArray::number(i);
            emit saveDataWDiscard(record);
        }
    }
};

class TstDataSaver : public QObject
{
    Q_OBJECT

private slots:
    void dataText();
    void clippedRegion_data();
    void clippedRegion();
    void fileNames_data();
    void fileNames();
    void existingFileReplaced();
    void largeResultWrittenWhole_data();
    void largeResultWrittenWhole();
    void namesStayInFolder_data();
    void namesStayInFolder();
    void pictureWritten_data();
    void pictureWritten();
    void failedWriteReported_data();
    void failedWriteReported();
    void recordsFromAnotherThread();
};

void TstDataSaver::dataText()
{
    const std::vector<double> v = smallResult();
    const QByteArray text = SavingData::resultText(4, v.data(), 1, 0.5, 3, 2.5);
    const QByteArray expected = "#ORVO-CTImg\n"
                                "# Range_X0       : 1\n"
                                "# Range_Y0       : 0.5\n"
                                "# Range_X1       : 3\n"
                                "# Range_Y1       : 2.5\n"
                                "# sx,sy, ex,ey   : 1\t0.5\t3\t2.5\n"
                                "1\t0\t1.25\n"
                                "2\t0\t2.25\n"
                                "1\t1\t-1.23457e-07\n"
                                "2\t1\t1.23457e+06\n"
                                "1\t2\t0\n"
                                "2\t2\t22.25\n";
    QCOMPARE(text, expected);

    // The saver writes the text unchanged.
    QTemporaryDir dir;
    DataSaver saver;
    auto *record = new SavingData(dir.path(), "ct", "7120eV", 42);
    record->data = text;
    saver.saveDataWDiscard(record);
    QCOMPARE(readAll(dir.filePath("ct-7120eV-00042.dat")), expected);
}

void TstDataSaver::clippedRegion_data()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("z0");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("z1");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("pixels");

    // The first load of the main window sets the region to the image width - 1.
    QTest::newRow("region wider than the result")
        << 0.0 << 0.0 << 639.0 << 639.0 << "0\t0\t4\t4" << 16;
    QTest::newRow("negative start") << -2.5 << -1.0 << 2.0 << 1.5 << "0\t0\t2\t1.5" << 4;
    QTest::newRow("huge bounds") << -1e10 << 1.5 << 1e300 << 1e10 << "0\t1.5\t4\t4" << 12;
    QTest::newRow("not a number") << nan << 0.0 << nan << 2.0 << "0\t0\t0\t2" << 0;
    QTest::newRow("wholly outside") << 5.0 << 6.0 << 9.0 << 9.0 << "4\t4\t4\t4" << 0;
    QTest::newRow("inside unchanged") << 0.5 << 2.0 << 3.5 << 3.0 << "0.5\t2\t3.5\t3" << 4;
}

void TstDataSaver::clippedRegion()
{
    QFETCH(double, x0);
    QFETCH(double, z0);
    QFETCH(double, x1);
    QFETCH(double, z1);
    QFETCH(QString, header);
    QFETCH(int, pixels);

    const std::vector<double> v = smallResult();
    const QList<QByteArray> lines = SavingData::resultText(4, v.data(), x0, z0, x1, z1).split('\n');
    QCOMPARE(lines.size(), 6 + pixels + 1); // the text ends with "\n"
    QCOMPARE(QString(lines[5]), "# sx,sy, ex,ey   : " + header);
    const QStringList bounds = header.split('\t');
    QCOMPARE(QString(lines[1]), "# Range_X0       : " + bounds[0]);
    QCOMPARE(QString(lines[4]), "# Range_Y1       : " + bounds[3]);
    for (int i = 6; i < 6 + pixels; ++i) {
        const QList<QByteArray> fields = lines[i].split('\t');
        QCOMPARE(fields.size(), 3);
        const int x = fields[0].toInt();
        const int z = fields[1].toInt();
        QVERIFY2(x >= 0 && x < 4 && z >= 0 && z < 4, lines[i].constData());
    }
}

void TstDataSaver::fileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("slice");
    QTest::addColumn<bool>("inSubFolders");
    QTest::addColumn<bool>("ofEnergy");
    QTest::addColumn<bool>("ofSlice");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("in the folder itself")
        << "ct"
        << "7120eV" << 42 << false << true << true
        << QStringList{"ct-7120eV-00042.dat", "ct-7120eV-00042.png"};
    QTest::newRow("both sub folders, written twice")
        << "ct"
        << "7120eV" << 42 << true << true << true
        << QStringList{"00042/ct-7120eV-00042.dat", "00042/ct-7120eV-00042.png",
                       "7120eV/ct-7120eV-00042.dat", "7120eV/ct-7120eV-00042.png"};
    QTest::newRow("energy sub folder")
        << "ct"
        << "7_120keV" << 7 << true << true << false
        << QStringList{"7_120keV/ct-7_120keV-00007.dat", "7_120keV/ct-7_120keV-00007.png"};
    QTest::newRow("slice sub folder")
        << "ct"
        << "7120eV" << 7 << true << false << true
        << QStringList{"00007/ct-7120eV-00007.dat", "00007/ct-7120eV-00007.png"};
    QTest::newRow("sub folders of no kind: nothing")
        << "ct"
        << "7120eV" << 7 << true << false << false << QStringList{};
    QTest::newRow("six digit slice not cut") << "ct"
                                             << "t" << 123456 << false << false << false
                                             << QStringList{"ct-t-123456.dat", "ct-t-123456.png"};
    QTest::newRow("empty tag, two hyphens")
        << "ct"
        << "" << 3 << false << false << false << QStringList{"ct--00003.dat", "ct--00003.png"};
    QTest::newRow("placeholder in the name stays")
        << "a%3b"
        << "%1" << 9 << false << false << false
        << QStringList{"a%3b-%1-00009.dat", "a%3b-%1-00009.png"};
}

void TstDataSaver::fileNames()
{
    QFETCH(QString, name);
    QFETCH(QString, tag);
    QFETCH(int, slice);
    QFETCH(bool, inSubFolders);
    QFETCH(bool, ofEnergy);
    QFETCH(bool, ofSlice);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    DataSaver saver;
    saver.setSubFolders(inSubFolders, ofEnergy, ofSlice);
    auto *data = new SavingData(dir.path(), name, tag, slice);
    data->data = "x\n";
    saver.saveDataWDiscard(data);
    QImage picture(2, 2, QImage::Format_Grayscale8);
    picture.fill(7);
    saver.saveImgWDiscard(new SavingImg(dir.path(), name, tag, slice, picture));
    QCOMPARE(filesUnder(dir.path()), expected);
}

void TstDataSaver::namesStayInFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("inSubFolders");
    QTest::newRow("name climbing out") << "../../escaped"
                                       << "7100eV" << false;
    QTest::newRow("name with a folder") << "sub/ct"
                                        << "7100eV" << false;
    QTest::newRow("name with a backslash") << "..\\ct"
                                           << "7100eV" << false;
    QTest::newRow("tag as energy folder climbing out") << "ct"
                                                       << "../.." << true;
    QTest::newRow("tag with a folder") << "ct"
                                       << "a/b" << true;
    QTest::newRow("dot-dot inside a name") << "a..b"
                                           << "7100eV" << false;
}

void TstDataSaver::namesStayInFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, tag);
    QFETCH(bool, inSubFolders);
    QTemporaryDir dir;
    const QString folder = dir.filePath("results/run");
    QVERIFY(QDir().mkpath(folder));
    DataSaver saver;
    saver.setSubFolders(inSubFolders, true, false);
    TestSupport::MessageLog log;
    auto *data = new SavingData(folder, name, tag, 5);
    data->data = "x\n";
    saver.saveDataWDiscard(data);
    saver.saveImgWDiscard(
        new SavingImg(folder, name, tag, 5, QImage(2, 2, QImage::Format_Grayscale8)));
    // Nothing anywhere in the temporary tree, inside the folder or above it.
    QCOMPARE(filesUnder(dir.path()), QStringList());
    QCOMPARE(log.count("Result name or tag not allowed"), 2);
    QVERIFY(!ResultLayout::isNamePartAllowed(name) || !ResultLayout::isNamePartAllowed(tag));
}

void TstDataSaver::existingFileReplaced()
{
    QTemporaryDir dir;
    DataSaver saver;
    SavingData first(dir.path(), "ct", "E", 1);
    first.data = "a much longer earlier text\n";
    saver.saveData(&first);
    SavingData second(dir.path(), "ct", "E", 1);
    second.data = "new\n";
    saver.saveData(&second);
    QCOMPARE(readAll(dir.filePath("ct-E-00001.dat")), QByteArray("new\n"));
    QCOMPARE(filesUnder(dir.path()), QStringList{"ct-E-00001.dat"});
}

void TstDataSaver::largeResultWrittenWhole_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("whole blocks") << (1 << 20);
    QTest::newRow("one byte over") << (1 << 20) + 1;
    QTest::newRow("a block short") << 3 * (1 << 20) + 4095;
}

// Large results take another way to the disk; they must come out byte for byte,
// at their own size, also when they replace a longer file.
void TstDataSaver::largeResultWrittenWhole()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    DataSaver saver;
    SavingData longer(dir.path(), "ct", "E", 1);
    longer.data = QByteArray(size + 10000, 'x');
    longer.tiff = QByteArray(size + 3, 'y');
    saver.saveData(&longer);
    SavingData record(dir.path(), "ct", "E", 1);
    record.data.resize(size);
    record.tiff.resize(size - 7);
    quint32 state = 99;
    for (QByteArray *bytes : {&record.data, &record.tiff})
        for (char &c : *bytes) {
            state = state * 1664525u + 1013904223u;
            c = char(state >> 24);
        }
    saver.saveData(&record);
    QCOMPARE(readAll(dir.filePath("ct-E-00001.dat")), record.data);
    QCOMPARE(readAll(dir.filePath("ct-E-00001.tif")), record.tiff);
    QCOMPARE(filesUnder(dir.path()), (QStringList{"ct-E-00001.dat", "ct-E-00001.tif"}));
}

void TstDataSaver::pictureWritten_data()
{
    QTest::addColumn<QImage>("picture");
    QImage small(5, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            small.scanLine(y)[x] = uchar(40 * y + x);
    QTest::newRow("grey 5x3") << small;
    QTest::newRow("grey 1x1") << QImage(1, 1, QImage::Format_Grayscale8);
    // Rows whose differences wrap around 0 and 255, and a padded scan line (odd width).
    QImage noisy(301, 97, QImage::Format_Grayscale8);
    quint32 state = 12345;
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            noisy.scanLine(y)[x] = uchar(state >> 24);
        }
    noisy.setDotsPerMeterX(5000);
    noisy.setDotsPerMeterY(2000);
    QTest::newRow("grey noise with density") << noisy;
    QImage colour(4, 4, QImage::Format_RGB32);
    colour.fill(QColor(10, 200, 30));
    QTest::newRow("colour through Qt") << colour;
}

void TstDataSaver::pictureWritten()
{
    QFETCH(QImage, picture);
    QTemporaryDir dir;
    DataSaver saver;
    SavingImg record(dir.path(), "ct", "E", 2, picture);
    saver.saveImg(&record);
    const QString file = dir.filePath("ct-E-00002.png");
    QCOMPARE(readAll(file).left(4), QByteArray("\x89PNG"));
    QImage back(file);
    QCOMPARE(back.size(), picture.size());
    QCOMPARE(back.convertToFormat(picture.format()), picture);
    QCOMPARE(back.dotsPerMeterX(), picture.dotsPerMeterX());
    QCOMPARE(back.dotsPerMeterY(), picture.dotsPerMeterY());
}

void TstDataSaver::failedWriteReported_data()
{
    QTest::addColumn<bool>("inSubFolders");
    QTest::newRow("folder is a file") << false;
    QTest::newRow("sub folder below a file") << true;
}

void TstDataSaver::failedWriteReported()
{
    QFETCH(bool, inSubFolders);
    QTemporaryDir dir;
    // A plain file where the folder should be: no write can succeed, even as root.
    const QString blocked = dir.filePath("blocked");
    {
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    DataSaver saver;
    saver.setSubFolders(inSubFolders, true, false);
    TestSupport::MessageLog log;
    auto *data = new SavingData(blocked, "ct", "E", 5);
    data->data = "1\n";
    saver.saveDataWDiscard(data);
    saver.saveImgWDiscard(
        new SavingImg(blocked, "ct", "E", 5, QImage(2, 2, QImage::Format_Grayscale8)));
    QCOMPARE(log.count("Can not write result file"), 2);
    QVERIFY(
        log.contains(QDir(blocked).filePath(inSubFolders ? "E/ct-E-00005.dat" : "ct-E-00005.dat")));
    QCOMPARE(filesUnder(dir.path()), QStringList{"blocked"});
}

void TstDataSaver::recordsFromAnotherThread()
{
    QTemporaryDir dir;
    QThread saverThread;
    QThread engineThread;
    auto *saver = new DataSaver;
    auto *sender = new RecordSender;
    sender->folder = dir.path();
    saver->moveToThread(&saverThread);
    sender->moveToThread(&engineThread);
    connect(sender, &RecordSender::saveDataWDiscard, saver, &DataSaver::saveDataWDiscard);
    connect(&saverThread, &QThread::finished, saver, &QObject::deleteLater);
    connect(&engineThread, &QThread::finished, sender, &QObject::deleteLater);
    saverThread.start();
    engineThread.start();

    QVERIFY(QMetaObject::invokeMethod(sender, "sendRecords", Qt::BlockingQueuedConnection,
                                      Q_ARG(int, 50)));
    engineThread.quit();
    engineThread.wait();
    QVERIFY(QMetaObject::invokeMethod(saver, &DataSaver::flush, Qt::BlockingQueuedConnection));
    saverThread.quit();
    saverThread.wait();

    // Written in the order sent: each of the five files holds the last record for it.
    QCOMPARE(filesUnder(dir.path()).size(), 5);
    for (int k = 0; k < 5; ++k)
        QCOMPARE(readAll(dir.filePath(QString("ct-E-%1.dat").arg(sliceNumberText(k)))),
                 QByteArray::number(45 + k));
}

QTEST_GUILESS_MAIN(TstDataSaver)
#include "tst_DataSaver.moc"

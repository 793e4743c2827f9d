// Headless runs that can not go their whole course: a stop signal ends the run with
// what was saved on record and status 128 + N; threads the system refuses leave the
// run going (or refused with a reason) instead of waiting for ever.

#include "SeqRunFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace SeqRunFixture;

class TestHeadlessStop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signalEndsRunWithRecord_data();
    void signalEndsRunWithRecord();
    void threadsThatCannotStart_data();
    void threadsThatCannotStart();

private:
    QString script(const QString &results, int threads, int lastSlice = -1) const;
    QTemporaryDir dir;
    DemoSettings settings;
};

void TestHeadlessStop::initTestCase()
{
    QVERIFY(dir.isValid());
    // 96 slices of 384 pixels from 180 projections: a few seconds on one engine, long
    // enough to be stopped in the middle.
    settings.outDir = dir.filePath("data");
    settings.width = 384;
    settings.height = 96;
    settings.projections = 180;
    settings.energies = 1;
    QVERIFY(DemoGenerator(settings).generate());
}

QString TestHeadlessStop::script(const QString &results, int threads, int lastSlice) const
{
    QStringList lines = DemoGenerator(settings).loadLines(0);
    lines << "calc_ct2 1"
          << "ct_auto_exec 1" << QStringLiteral("ct_threads %1").arg(threads)
          << QStringLiteral("ct_cor %1").arg(settings.corOrDefault()) << "ct_slice_from 0"
          << QStringLiteral("ct_slice_to %1").arg(lastSlice < 0 ? settings.height - 1 : lastSlice)
          << "auto_save_data 1"
          << "auto_save_data_format tiff"
          << QStringLiteral("auto_save_data_path \"%1\"").arg(results) << "auto_save_data_name stop"
          << "calc_exec"
          << ":echo after the run";
    return lines.join('\n') + '\n';
}

void TestHeadlessStop::signalEndsRunWithRecord_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("threads");
    QTest::newRow("SIGTERM (scancel), one engine") << int(SIGTERM) << 1;
    QTest::newRow("SIGINT (Ctrl-C), two engines") << int(SIGINT) << 2;
    QTest::newRow("SIGHUP (terminal closed), one engine") << int(SIGHUP) << 1;
}

void TestHeadlessStop::signalEndsRunWithRecord()
{
    QFETCH(int, signalNumber);
    QFETCH(int, threads);
    const QString results = dir.filePath(QStringLiteral("signal-%1").arg(signalNumber));
    const QString bat = dir.filePath("signal.bat");
    QVERIFY(writeFile(bat, script(results, threads).toUtf8()));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ORVO2_EXE, {"-nw", "-e", "-b", bat, "-x"});
    QVERIFY(p.waitForStarted());
    // Stopped once the first results are saved, in the middle of the run.
    QByteArray log;
    QElapsedTimer clock;
    clock.start();
    while (!log.contains("slices done 8 /") && clock.elapsed() < 60000) {
        p.waitForReadyRead(100);
        log += p.readAll();
    }
    QVERIFY2(log.contains("slices done 8 /"), log.constData());
    QVERIFY2(!log.contains("slices done 96 / 96"), "the run ended before the signal");
    ::kill(static_cast<pid_t>(p.processId()), signalNumber);
    QVERIFY(p.waitForFinished(30000));
    log += p.readAll();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 128 + signalNumber, log.constData());
    QVERIFY2(log.contains("Summary : sets"), log.constData());
    QVERIFY(!log.contains("after the run"));

    const QStringList files = filesUnder(results, {});
    QVERIFY2(files.filter(".part").isEmpty(), qPrintable(files.join('\n')));
    const QStringList records = files.filter(QRegularExpression("\\.json$"));
    QCOMPARE(records.size(), 1);
    const QJsonObject record =
        QJsonDocument::fromJson(readFile(results + '/' + records.first())).object();
    bool stopEntry = false;
    for (const QJsonValue &f : record["failures"].toArray())
        stopEntry = stopEntry || f.toObject()["reason"].toString() ==
                                     QStringLiteral("stopped by signal %1").arg(signalNumber);
    QVERIFY2(stopEntry, QJsonDocument(record).toJson().constData());
    // The record lists every slice saved, and only those.
    const int saved = files.filter(QRegularExpression("\\.tif$")).size();
    QVERIFY(saved >= 8 && saved < settings.height);
    QCOMPARE(record["slices"].toArray().size(), saved);
}

void TestHeadlessStop::threadsThatCannotStart_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("one engine: the others compute") << "engine 1" << 0 << QString();
    QTest::newRow("every engine: the run is refused")
        << "engine" << 2 << "CT run not started : no engine thread could start";
    QTest::newRow("the saver: results written on the main thread") << "saver" << 0 << QString();
    QTest::newRow("the script interpreter: the script runs on the main thread")
        << "script interpreter" << 0 << QString();
}

void TestHeadlessStop::threadsThatCannotStart()
{
    QFETCH(QString, failing);
    QFETCH(int, status);
    QFETCH(QString, message);
    const QString results = dir.filePath("threads-" + QString(failing).replace(' ', '-'));
    const QString bat = dir.filePath("threads.bat");
    QVERIFY(writeFile(bat, script(results, 2, 7).toUtf8()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVO2_FAIL_THREADS", failing);
    const Run r =
        runProgram(ORVO2_EXE, {"-nw", "-e", "-b", bat, "-x"}, dir.path(), env, 120000, true);
    QVERIFY2(r.status == status, qPrintable(QString::number(r.status) + '\n' + r.out));
    QVERIFY2(r.out.contains("Thread could not start : " + failing), qPrintable(r.out));
    QVERIFY2(message.isEmpty() || r.out.contains(message), qPrintable(r.out));
    QVERIFY(r.out.contains("after the run"));
    const int slices = filesUnder(results, {}).filter(QRegularExpression("\\.tif$")).size();
    QCOMPARE(slices, status == 0 ? 8 : 0);
}

QTEST_GUILESS_MAIN(TestHeadlessStop)
#include "tst_HeadlessStop.moc"

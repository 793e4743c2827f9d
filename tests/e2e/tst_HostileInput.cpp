#include "HostileFiles.h"
#include "SeqRunFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The real program given the files that once aborted it, under a memory limit:
// each load ends with a message naming the file, and the program exits by itself.
class TestHostileInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void loadEndsWithMessage_data();
    void loadEndsWithMessage();
    void endlessScriptIsRefused();

private:
    QString write(const QString &name, const QByteArray &bytes);
    int run(const QStringList &args, qint64 limitKiB, QString &log);
    QTemporaryDir dir;
};

QString TestHostileInput::write(const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

// Runs the program under `ulimit -v limitKiB` (no limit for 0): an allocation
// beyond it fails as it would on a machine that is out of memory.
int TestHostileInput::run(const QStringList &args, qint64 limitKiB, QString &log)
{
    const QString limit = limitKiB > 0 ? QStringLiteral("ulimit -v %1 && ").arg(limitKiB) : "";
    const SeqRunFixture::Run r = SeqRunFixture::runProgram(
        "/bin/sh", QStringList{"-c", limit + "exec \"$0\" \"$@\"", ORVO2_EXE} + args, dir.path(),
        QProcessEnvironment::systemEnvironment(), 120000, true);
    log = r.status == -1 ? QStringLiteral("<timeout>") : r.out;
    return r.status;
}

void TestHostileInput::initTestCase()
{
    QVERIFY(dir.isValid());
    for (const HostileFiles::Named &h : HostileFiles::all())
        QVERIFY(!write(h.name, h.bytes).isEmpty());
}

void TestHostileInput::loadEndsWithMessage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("budgetMB");
    QTest::addColumn<QString>("message");
    // Under AddressSanitizer the address space is the sanitizer's: the budget
    // alone bounds the readers there, the address-space limit only in a plain build.
    const bool limited =
#if defined(__SANITIZE_ADDRESS__)
        false;
#else
        true;
#endif
    const struct
    {
        const char *name;
        const char *message;
        const char *messageUnderLimit;
    } files[] = {
        {"giant-tile.tif", "TIFF tile larger than its image", "TIFF tile larger than its image"},
        {"small-tiled-fuzz.tif", "TIFF tile larger than its image",
         "TIFF tile larger than its image"},
        {"giant-strip.tif", "TIFF strip or tile beyond the end of the file",
         "TIFF strip or tile beyond the end of the file"},
        {"lzw-bomb.tif", "Image exceeds the memory budget", "No memory"},
        {"oversized.img", "ITEX file is shorter than its image size",
         "ITEX file is shorter than its image size"},
    };
    for (const auto &f : files) {
        QTest::addRow("%s, MemoryLimitMB 64", f.name) << f.name << 64 << f.message;
        if (limited)
            QTest::addRow("%s, default budget, 2.5 GB address space", f.name)
                << f.name << 0 << f.messageUnderLimit;
    }
}

void TestHostileInput::loadEndsWithMessage()
{
    QFETCH(QString, name);
    QFETCH(int, budgetMB);
    QFETCH(QString, message);
    const QString cfg = write(
        "hostile.cfg", budgetMB > 0 ? QStringLiteral("MemoryLimitMB %1\n").arg(budgetMB).toUtf8()
                                    : QByteArray("# default budget\n"));
    const QString script =
        write("hostile.bat", QStringLiteral("images_load \"%1\" %2\ni0_load \"%3\"\n:echo done\n")
                                 .arg(dir.path(), name, dir.filePath(name))
                                 .toUtf8());
    QString log;
    const int status =
        run({"-nw", "-e", "-c", cfg, "-b", script, "-x"}, budgetMB > 0 ? 0 : 2500000, log);
    // Ended by itself, not by a signal; a failed load may count as a failure.
    QVERIFY2(status == 0 || status == 2, qPrintable(QString::number(status) + "\n" + log));
    QVERIFY2(log.contains(message), qPrintable(log));
    QVERIFY2(log.contains(dir.filePath(name)), qPrintable(log));
    QVERIFY(log.contains(":echo done"));
}

void TestHostileInput::endlessScriptIsRefused()
{
    // /dev/zero as the script and as an INCLUDE: refused at once, not read for ever.
    const QString cfg = write("zero.cfg", "INCLUDE /dev/zero\nAfter 1\n");
    QString log;
    const int status = run({"-nw", "-e", "-c", cfg, "-b", "/dev/zero", "-x"}, 0, log);
    QCOMPARE(status, 1);
    QVERIFY2(log.contains("Not a regular file"), qPrintable(log));
    QVERIFY(log.contains("Can't open batch file"));
    QVERIFY(log.contains("body-cmd \"After\""));
}

QTEST_GUILESS_MAIN(TestHostileInput)
#include "tst_HostileInput.moc"

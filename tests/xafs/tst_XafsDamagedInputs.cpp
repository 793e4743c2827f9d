#include "XafsResultFiles.h"
#include "util/SafeFile.h"
#include "xafs/XafsBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The build on results turned against it: a damaged position, a record that is a
// FIFO or /dev/zero, a full disk. Each is refused at once with nothing half written.
class TestXafsDamagedInputs : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SafeFile::setFailingWrites(QString()); }
    void build_data();
    void build();
};

void TestXafsDamagedInputs::build_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("built");
    QTest::newRow("intact") << "" << true;
    QTest::newRow("XPosition far outside the slice") << "position" << false;
    QTest::newRow("record is a FIFO") << "fifo" << false;
    QTest::newRow("record links to /dev/zero") << "zero" << false;
    QTest::newRow("full disk at the mu stack") << "full" << false;
}

void TestXafsDamagedInputs::build()
{
    QFETCH(QString, damage);
    QFETCH(bool, built);
    QTemporaryDir dir;
    XafsResultFiles::ResultWriter results;
    results.folder = dir.path();
    const QList<double> energies{7090.0, 7100.0, 7105.0, 7110.0, 7125.0, 7135.0, 7150.0};
    for (double e : energies)
        QVERIFY(results.write(e, {3}));
    const QString tag = XafsResultFiles::ResultWriter::tagOf(energies[1]);
    const QString record = results.layout.recordPath(dir.path(), "smp", tag);
    if (damage == "position")
        QVERIFY(results.write(energies[1], {3}, 2000000000));
    if (damage == "fifo" || damage == "zero")
        QVERIFY(QFile::remove(record));
    if (damage == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(record).constData(), 0600), 0);
    if (damage == "zero")
        QVERIFY(QFile::link("/dev/zero", record));
    if (damage == "full")
        SafeFile::setFailingWrites("-mu-");
    XafsBuilder builder({dir.path(), "smp", false, false, false}, XafsSettings());
    QCOMPARE(builder.build() > 0, built);
    const QDir out(builder.outputFolder());
    QCOMPARE(out.exists(XafsBuilder::stackFileName("smp", "mu", 3)), built);
    QCOMPARE(out.entryList({"*.part"}, QDir::Files | QDir::System), QStringList());
}

QTEST_GUILESS_MAIN(TestXafsDamagedInputs)
#include "tst_XafsDamagedInputs.moc"

#include "XafsResultFiles.h"
#include "imgdata/MemoryBudget.h"
#include "util/SafeFile.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsHelperThread.h"
#include "xafs/XafsTiff.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include <sys/stat.h>
#include <tiffio.h>

// The build on results turned against it: a damaged position, a record that is a
// FIFO or /dev/zero, a full disk, a memory budget too small for a slice. Each is
// refused at once with nothing half written. Helper threads the system refuses leave
// their work to the build's own thread, which still builds every value.
class TestXafsDamagedInputs : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        SafeFile::setFailingWrites(QString());
        MemoryBudget::setLimit(0);
        XafsHelperThread::setRefusing(false);
    }
    void build_data();
    void build();
    void stackClaimingMoreThanItsFile();
};

void TestXafsDamagedInputs::build_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("built");
    QTest::newRow("intact") << "" << true;
    QTest::newRow("one slice cut short at one energy") << "cut" << true;
    QTest::newRow("XPosition far outside the slice") << "position" << false;
    QTest::newRow("record is a FIFO") << "fifo" << false;
    QTest::newRow("record links to /dev/zero") << "zero" << false;
    QTest::newRow("full disk at the mu stack") << "full" << false;
    QTest::newRow("full disk at the edge maps") << "edges" << false;
    QTest::newRow("memory budget below a slice's buffers") << "memory" << false;
    QTest::newRow("helper threads refused") << "threads" << true;
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
        QVERIFY(results.write(e, {3, 4}));
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
    if (damage == "edges")
        SafeFile::setFailingWrites("-edge50-");
    if (damage == "cut") {
        QFile cut(QDir(dir.path())
                      .filePath(ResultLayout::fileName("smp", tag, sliceNumberText(4), "tif")));
        QVERIFY(cut.resize(cut.size() / 2));
    }
    if (damage == "memory") {
        MemoryBudget::setLimit(MemoryBudget::used() + 1000);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: No memory for slice 3"));
    }
    if (damage == "threads") {
        XafsHelperThread::setRefusing(true);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^XAFS: a helper thread could not"));
    }
    XafsBuilder builder({dir.path(), "smp", false, false, false}, XafsSettings());
    builder.setEdgeMaps(XafsMapSettings());
    QCOMPARE(builder.build() > 0, built);
    // Slices left out make a build that still counts as failed.
    const QList<int> leftOut = damage == "cut"    ? QList<int>{4}
                               : damage == "full" ? QList<int>{3, 4}
                                                  : QList<int>{};
    QCOMPARE(builder.failedSlices(), leftOut);
    const QDir out(builder.outputFolder());
    // The edge maps come after the stacks, which stay when the maps can not be written.
    QCOMPARE(out.exists(XafsBuilder::stackFileName("smp", "mu", 3)), built || damage == "edges");
    QCOMPARE(out.entryList({"*.part"}, QDir::Files | QDir::System), QStringList());
    if (damage != "threads")
        return;
    std::vector<XafsPage> mu, jump;
    QVERIFY(XafsTiff::readPages(out.filePath(XafsBuilder::stackFileName("smp", "mu", 3)), &mu));
    QVERIFY(XafsTiff::readPages(out.filePath(XafsBuilder::stackFileName("smp", "jump", 3)), &jump));
    QCOMPARE(mu.size(), size_t(energies.size()));
    using XafsResultFiles::Phantom;
    for (size_t i = 0; i < mu[0].values.size(); ++i) {
        const int x = 4 + int(i) % 20, z = 6 + int(i) / 20;
        for (size_t k = 0; k < mu.size(); ++k)
            QVERIFY(std::abs(mu[k].values[i] - Phantom::mu(x, z, energies[int(k)])) < 1e-6);
        QVERIFY(std::abs(jump[0].values[i] - Phantom::absorber(x, z)) < 1e-6);
    }
}

// A header claiming 65536 x 65536 floats (16 GiB) over a file of one row is refused
// before the page is sized.
void TestXafsDamagedInputs::stackClaimingMoreThanItsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("claims.tif");
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    QVERIFY(tif);
    const uint32_t side = 65536;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    std::vector<float> row(side, 1.0f);
    QVERIFY(TIFFWriteEncodedStrip(tif, 0, row.data(), tmsize_t(side * sizeof(float))) > 0);
    TIFFClose(tif);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^TIFF file is shorter than its image"));
    std::vector<XafsPage> pages;
    QVERIFY(!XafsTiff::readPages(path, &pages));
    QVERIFY(pages.empty());
}

QTEST_GUILESS_MAIN(TestXafsDamagedInputs)
#include "tst_XafsDamagedInputs.moc"

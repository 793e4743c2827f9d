#include "imgdata/H5Scan.h"
#include "imgdata/ImgData.h"
#include "imgdata/MemoryBudget.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Scans written by h5py in each layout beamlines use, and files that must be
// refused: 4 projections of 3 x 5 pixels, values 100 + 10 k + pixel index.
static const char generator[] = R"(
import sys, os, h5py, numpy as np
d = sys.argv[1]
P, H, W = 4, 3, 5
proj = np.array([100 + 10 * k + np.arange(H * W).reshape(H, W) for k in range(P)], np.uint16)
flats = np.array([np.full((H, W), v) for v in (1000, 1002, 1010, 1004)], np.uint16)
darks = np.array([np.full((H, W), v) for v in (10, 12, 20)], np.uint16)
theta = np.arange(P) * 180.0 / P
def comp(deflate):
    return dict(compression='gzip', compression_opts=4, shuffle=True) if deflate else {}
def nxtomo(name, deflate):
    with h5py.File(os.path.join(d, name), 'w') as f:
        e = f.create_group('scan')
        e.attrs['NX_class'] = 'NXentry'
        e['definition'] = 'NXtomo'
        frames = [darks[0], flats[0], flats[1]] + list(proj) + [flats[2], flats[3], darks[1], darks[2]]
        keys = [2, 1, 1] + [0] * P + [1, 1, 2, 2]
        angles = [0, 0, 0] + list(theta) + [180, 180, 0, 0]
        e.create_dataset('instrument/detector/data', data=np.array(frames), chunks=(1, H, W), **comp(deflate))
        e['instrument/detector/image_key'] = np.array(keys, np.int32)
        e['sample/rotation_angle'] = np.array(angles)
        e['instrument/beam/incident_energy'] = 11.56
        e['instrument/beam/incident_energy'].attrs['units'] = 'keV'
def exchange(name, deflate=False, data=proj, white=flats, dark=darks, th=theta, **kw):
    with h5py.File(os.path.join(d, name), 'w') as f:
        f.create_dataset('exchange/data', data=data, **kw, **comp(deflate))
        if white is not None: f['exchange/data_white'] = white
        if dark is not None: f['exchange/data_dark'] = dark
        f['exchange/theta'] = th
nxtomo('nxtomo.nxs', False)
nxtomo('nxtomo-deflate.nxs', True)
exchange('exchange.h5')
exchange('exchange-deflate.h5', True)
with h5py.File(os.path.join(d, 'paths.h5'), 'w') as f:
    f['img_tomo'] = proj; f['img_bkg'] = flats; f['img_dark'] = darks; f['angle'] = theta
    f['X_eng'] = 8333.0; f['X_eng'].attrs['units'] = 'eV'
exchange('lzf.h5', data=proj, compression='lzf')
exchange('rank2.h5', data=proj[0])
exchange('string.h5', data=np.full((P, H, W), b'ab', 'S2'))
exchange('noflats.h5', white=None)
exchange('nodarks.h5', dark=None)
exchange('angles.h5', th=theta + np.array([0, 0, np.nan, 0]))
with h5py.File(os.path.join(d, 'overflow.h5'), 'w') as f:
    f.create_dataset('exchange/data', shape=(2 ** 20, 2 ** 21, 2 ** 21), dtype=np.uint16, chunks=(1, 1, 16))
    f['exchange/data_white'] = flats; f['exchange/data_dark'] = darks
with h5py.File(os.path.join(d, 'unknown.h5'), 'w') as f:
    f['images'] = proj
exchange('truncated.h5')
with open(os.path.join(d, 'truncated.h5'), 'r+b') as f:
    f.truncate(os.path.getsize(os.path.join(d, 'truncated.h5')) // 2)
)";

class tst_H5Scan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { MemoryBudget::setLimit(0); }
    void layouts_data();
    void layouts();
    void refusals_data();
    void refusals();

private:
    QTemporaryDir dir;
};

void tst_H5Scan::initTestCase()
{
    QVERIFY(dir.isValid());
    const QString executable = QStandardPaths::findExecutable("python3", {"/usr/bin"});
    QProcess probe;
    probe.start(executable, {"-c", "import h5py, numpy"});
    if (executable.isEmpty() || !probe.waitForFinished(60000) || probe.exitCode() != 0)
        QSKIP("python3 with h5py and numpy is not installed");
    QProcess python;
    python.start(executable, {"-c", QString::fromUtf8(generator), dir.path()});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
}

void tst_H5Scan::layouts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("median");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<double>("flat");
    QTest::addColumn<double>("dark");
    QTest::addColumn<double>("energy");
    const QStringList none;
    QTest::newRow("NXtomo, flats and darks at both ends")
        << "nxtomo.nxs" << none << false << "NXtomo" << 1004.0 << 14.0 << 11560.0;
    QTest::newRow("NXtomo deflate, medians")
        << "nxtomo-deflate.nxs" << none << true << "NXtomo" << 1003.0 << 12.0 << 11560.0;
    QTest::newRow("data exchange")
        << "exchange.h5" << none << false << "data-exchange" << 1004.0 << 14.0 << 0.0;
    QTest::newRow("data exchange, deflate and shuffle")
        << "exchange-deflate.h5" << none << false << "data-exchange" << 1004.0 << 14.0 << 0.0;
    QTest::newRow("user paths with an energy in eV")
        << "paths.h5" << QStringList{"img_tomo", "img_bkg", "img_dark", "angle", "X_eng"} << false
        << "paths" << 1004.0 << 14.0 << 8333.0;
    QTest::newRow("user paths without angles")
        << "paths.h5" << QStringList{"/img_tomo", "/img_bkg", "/img_dark", "-"} << false << "paths"
        << 1004.0 << 14.0 << 0.0;
}

void tst_H5Scan::layouts()
{
    QFETCH(QString, file);
    QFETCH(QStringList, paths);
    QFETCH(bool, median);
    QFETCH(QString, layout);
    H5Paths given;
    QVERIFY(H5Paths::fromArguments(paths, &given));
    H5Scan scan;
    QVERIFY(scan.load(dir.filePath(file), given,
                      median ? H5Scan::Reduce::Median : H5Scan::Reduce::Mean));
    QCOMPARE(scan.layout, layout);
    QCOMPARE(int(scan.projections.size()), 4);
    std::vector<double> row(5);
    for (int k = 0; k < 4; ++k) {
        const ImgData *frame = scan.projections[size_t(k)].get();
        QCOMPARE(frame->width, 5);
        QCOMPARE(frame->height, 3);
        QCOMPARE(frame->getLine(2, row.data())[4], 100.0 + 10 * k + 14);
    }
    QFETCH(double, flat);
    QFETCH(double, dark);
    QFETCH(double, energy);
    QCOMPARE(scan.flat->getLine(1, row.data())[3], flat);
    QCOMPARE(scan.dark->getLine(2, row.data())[0], dark);
    QCOMPARE(scan.energyEV, energy);
    if (paths.value(3) != QLatin1String("-"))
        QCOMPARE(scan.anglesDeg, (std::vector<double>{0.0, 45.0, 90.0, 135.0}));
}

void tst_H5Scan::refusals_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<QString>("message");
    const QStringList none;
    QTest::newRow("filter this library lacks")
        << "lzf.h5" << none << qint64(0) << "HDF5 filter not available : lzf : ";
    QTest::newRow("truncated") << "truncated.h5" << none << qint64(0) << "HDF5";
    QTest::newRow("rank 2") << "rank2.h5" << none << qint64(0) << "not a stack of frames";
    QTest::newRow("strings") << "string.h5" << none << qint64(0) << "not a number type";
    QTest::newRow("byte count overflows") << "overflow.h5" << none << qint64(0) << "overflows";
    QTest::newRow("over the memory budget")
        << "exchange.h5" << none << qint64(200) << "exceeds the memory budget";
    QTest::newRow("no flats") << "noflats.h5" << none << qint64(0) << "has no flats";
    QTest::newRow("no darks") << "nodarks.h5" << none << qint64(0) << "has no darks";
    QTest::newRow("angle not a number")
        << "angles.h5" << none << qint64(0) << "angle is not a finite number";
    QTest::newRow("layout unknown") << "unknown.h5" << none << qint64(0) << "not recognised";
    QTest::newRow("path absent") << "paths.h5" << QStringList{"nothing", "-", "-", "-"} << qint64(0)
                                 << "data set not found";
    QTest::newRow("not HDF5") << "generator.py" << none << qint64(0) << "Not an HDF5 file";
    QTest::newRow("missing") << "missing.h5" << none << qint64(0) << "not a regular file";
}

void tst_H5Scan::refusals()
{
    QFETCH(QString, file);
    QFETCH(QStringList, paths);
    QFETCH(qint64, budget);
    QFETCH(QString, message);
    QFile(dir.filePath("generator.py")).open(QIODevice::WriteOnly);
    MemoryBudget::setLimit(budget);
    H5Paths given;
    QVERIFY(H5Paths::fromArguments(paths, &given));
    TestSupport::MessageLog log;
    H5Scan scan;
    QVERIFY(!scan.load(dir.filePath(file), given));
    QVERIFY(scan.projections.empty() && !scan.flat && !scan.dark);
    const QString all = log.messages().join('\n');
    QVERIFY2(all.contains(message) && all.contains(dir.filePath(file)), qPrintable(all));
    QCOMPARE(MemoryBudget::used(), qint64(0));
}

QTEST_GUILESS_MAIN(tst_H5Scan)
#include "tst_H5Scan.moc"

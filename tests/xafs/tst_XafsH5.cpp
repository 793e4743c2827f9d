// The HDF5 file of a build (xafs_h5 1), read back by h5py: its stacks, maps (the
// edge maps included) and energies equal the TIFFs the build writes, bit for bit,
// and one voxel's spectrum is one chunk.

#include "tests/xafs/XafsResultFiles.h"
#include "xafs/XafsBuilder.h"
#include "xafs/XafsTiff.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Each [slice] block of each dataset as raw float32 in <file>-<dataset>-<slice>.bin.
const char reader[] = R"(
import sys, json, h5py, numpy as np
p = sys.argv[1]
with h5py.File(p, 'r') as f:
    for k, s in enumerate(f['slice'][:]):
        for name in ('mu', 'norm'):
            open('%s-%s-%d.bin' % (p, name, s), 'wb').write(f[name][:, k].astype('<f4').tobytes())
        for name in ('jump', 'e0', 'edge50', 'wl-energy', 'wl-height'):
            open('%s-%s-%d.bin' % (p, name, s), 'wb').write(f[name][k].astype('<f4').tobytes())
    print(json.dumps({'chunks': list(f['mu'].chunks), 'shape': list(f['mu'].shape),
                      'energy_eV': [float(e) for e in f['energy_eV'][:]],
                      'region': [float(v) for v in f['mu'].attrs['region']],
                      'record': json.loads(f.attrs['record'])}))
)";

} // namespace

class tst_XafsH5 : public QObject
{
    Q_OBJECT

private slots:
    void sameAsTheTiffs_data();
    void sameAsTheTiffs();
};

void tst_XafsH5::sameAsTheTiffs_data()
{
    QTest::addColumn<double>("pixelSizeUm");
    QTest::newRow("per pixel") << 0.0;
    QTest::newRow("in 1/cm") << 0.65;
}

void tst_XafsH5::sameAsTheTiffs()
{
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
    QProcess probe;
    probe.start(python, {"-c", "import h5py, numpy"});
    if (python.isEmpty() || !probe.waitForFinished(60000) || probe.exitCode() != 0)
        QSKIP("python3 with h5py and numpy is not installed");
    QFETCH(double, pixelSizeUm);
    QTemporaryDir dir;
    XafsResultFiles::ResultWriter results;
    results.folder = dir.path();
    const std::vector<double> energies = {7090, 7100, 7105, 7110, 7115, 7120, 7125, 7135, 7150};
    for (double e : energies)
        QVERIFY(results.write(e, {3, 12}));
    XafsSettings settings;
    settings.writeH5 = true;
    settings.pixelSizeUm = pixelSizeUm;
    XafsBuilder builder({dir.path(), "smp", false, false, false}, settings);
    builder.setEdgeMaps(XafsMapSettings());
    QCOMPARE(builder.build(), 2);
    const QDir out(dir.filePath("xafs"));
    QProcess p;
    p.start(python, {"-c", QString::fromUtf8(reader), out.filePath("smp-xafs.h5")});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QCOMPARE(o["shape"].toArray(), (QJsonArray{9, 2, 12, 20}));
    QCOMPARE(o["chunks"].toArray(), (QJsonArray{9, 1, 12, 16}));
    QCOMPARE(o["region"].toArray(), (QJsonArray{4.0, 6.0, 24.0, 18.0}));
    QCOMPARE(o["energy_eV"].toArray().size(), 9);
    QCOMPARE(o["energy_eV"].toArray().last().toDouble(), 7150.0);
    QCOMPARE(o["record"].toObject()["slices_built"].toArray(), (QJsonArray{3, 12}));
    for (int slice : {3, 12}) {
        for (const char *kind : {"mu", "norm", "jump", "e0", "edge50", "wl-energy", "wl-height"}) {
            std::vector<XafsPage> pages;
            QVERIFY(XafsTiff::readPages(
                out.filePath(XafsBuilder::stackFileName("smp", kind, slice)), &pages));
            QByteArray expected;
            for (const XafsPage &page : pages)
                expected.append(reinterpret_cast<const char *>(page.values.data()),
                                qsizetype(page.values.size() * sizeof(float)));
            QFile bin(out.filePath(QStringLiteral("smp-xafs.h5-%1-%2.bin").arg(kind).arg(slice)));
            QVERIFY(bin.open(QIODevice::ReadOnly));
            QVERIFY2(bin.readAll() == expected, kind);
        }
    }
}

QTEST_GUILESS_MAIN(tst_XafsH5)
#include "tst_XafsH5.moc"

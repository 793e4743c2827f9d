#include "SeqRunFixture.h"
#include "ct/FloatTiff.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// One scan written by h5py in each layout beamlines use and, by the same script,
// as ITEX files with the flats' and the darks' means as I0 and BG: the program
// reconstructs the same slices from either.
static const char generator[] = R"(
import sys, os, struct, h5py, numpy as np
d = sys.argv[1]
P, H, W = 60, 4, 32
t = np.arange(W) - W / 2 + 0.5
def chord(u, r):
    return 2 * np.sqrt(np.maximum(r * r - u * u, 0))
proj = []
for k in range(P):
    th = k * np.pi / P
    mu = 0.02 * chord(t, 12) + 0.05 * chord(t - 5 * np.cos(th), 4)
    proj.append(np.tile(np.round(990 * np.exp(-mu)) + 11, (H, 1)))
proj = np.array(proj, np.uint16)
flats = np.array([np.full((H, W), v) for v in (1000, 1002)], np.uint16)
darks = np.array([np.full((H, W), v) for v in (10, 12)], np.uint16)
theta = np.arange(P) * 180.0 / P
def itex(path, a):
    c = b'Prop_ImageWidth=%d,Prop_ImageHeight=%d,BytesPerPixel=2,' % (W, H)
    with open(path, 'wb') as f:
        f.write(b'IM' + struct.pack('<H', len(c)) + bytes(60) + c + a.astype('<u2').tobytes())
os.makedirs(os.path.join(d, 'itex'))
for k in range(P):
    itex(os.path.join(d, 'itex', 'p%03d.img' % k), proj[k])
itex(os.path.join(d, 'i0.img'), np.full((H, W), 1001, np.uint16))
itex(os.path.join(d, 'bg.img'), np.full((H, W), 11, np.uint16))
with h5py.File(os.path.join(d, 'nxtomo.nxs'), 'w') as f:
    e = f.create_group('entry')
    e.attrs['NX_class'] = 'NXentry'
    e['definition'] = 'NXtomo'
    e['instrument/detector/data'] = np.concatenate([darks[:1], flats[:1], proj, flats[1:], darks[1:]])
    e['instrument/detector/image_key'] = np.array([2, 1] + [0] * P + [1, 2], np.uint8)
    e['sample/rotation_angle'] = np.concatenate([[0, 0], theta, [0, 0]])
    e['instrument/beam/incident_energy'] = 11.56
with h5py.File(os.path.join(d, 'exchange.h5'), 'w') as f:
    f.create_dataset('exchange/data', data=proj, chunks=(1, H, W), compression='gzip')
    f['exchange/data_white'] = flats
    f['exchange/data_dark'] = darks
    f['exchange/theta'] = theta
with h5py.File(os.path.join(d, 'paths.h5'), 'w') as f:
    f['img_tomo'] = proj; f['img_bkg'] = flats; f['img_dark'] = darks; f['angle'] = theta
# Angles other than the even spread: jittered by up to a third of a step (also in an
# angle file, for the ITEX run), and a full turn.
jitter = theta + np.random.default_rng(5).uniform(-1, 1, P)
with open(os.path.join(d, 'jitter.txt'), 'w') as f:
    f.write(''.join(repr(float(a)) + '\n' for a in jitter))
for name, th in (('jitter.h5', jitter), ('turn.h5', np.arange(P) * 360.0 / P)):
    with h5py.File(os.path.join(d, name), 'w') as f:
        f['exchange/data'] = proj; f['exchange/data_white'] = flats
        f['exchange/data_dark'] = darks; f['exchange/theta'] = th
# A sequential run over three energies: one NXtomo file each (the energy in the file
# only), and the same sets as ITEX files named by energy with an I0 each.
for sub in ('seq-itex', 'seq-i0', 'seq-h5'):
    os.makedirs(os.path.join(d, sub))
for j, ev in enumerate((7100, 7200, 7300)):
    pj = np.array([np.tile(np.round(990 * np.exp(-(1 + 0.2 * j) * 0.02 * chord(t - k % 7, 9)))
                           + 11, (H, 1)) for k in range(P)], np.uint16)
    for k in range(P):
        itex(os.path.join(d, 'seq-itex', 's-%deV-%03d.img' % (ev, k)), pj[k])
    itex(os.path.join(d, 'seq-i0', 'i0-%deV-000.img' % ev), (flats + 50 * j).mean(0))
    with h5py.File(os.path.join(d, 'seq-h5', 'scan%d.nxs' % j), 'w') as f:
        e = f.create_group('entry')
        e.attrs['NX_class'] = 'NXentry'
        e['definition'] = 'NXtomo'
        e['instrument/detector/data'] = np.concatenate([flats + 50 * j, pj, darks])
        e['instrument/detector/image_key'] = np.array([1, 1] + [0] * P + [2, 2], np.uint8)
        e['instrument/beam/incident_energy'] = ev / 1000
)";

class tst_H5Load : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameSlicesAsItex_data();
    void sameSlicesAsItex();
    void savedAsH5_data();
    void savedAsH5();
    void sequentialOverFiles();

private:
    QString run(const QString &name, const QString &loading,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());
    QTemporaryDir dir;
};

void tst_H5Load::initTestCase()
{
    QVERIFY(dir.isValid());
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin"});
    QProcess probe;
    probe.start(python, {"-c", "import h5py, numpy"});
    if (python.isEmpty() || !probe.waitForFinished(60000) || probe.exitCode() != 0)
        QSKIP("python3 with h5py and numpy is not installed");
    QProcess p;
    p.start(python, {"-c", QString::fromUtf8(generator), dir.path()});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

// The slices 1 and 2 of a run loaded by `loading`, as the data files' bytes.
QString tst_H5Load::run(const QString &name, const QString &loading, const QProcessEnvironment &env)
{
    const QString out = dir.filePath(name);
    const QString script = loading + QStringLiteral("\nct_rot_ax_is_v 1\nct_cor 16\ncalc_ct2 1\n"
                                                    "ct_auto_exec 1\nct_slice_from 1\n"
                                                    "ct_slice_to 2\nauto_save_data 1\n"
                                                    "auto_save_data_path \"%1\"\n"
                                                    "auto_save_data_name rec\ncalc_exec\n")
                                         .arg(out);
    SeqRunFixture::writeFile(dir.filePath(name + ".bat"), script.toUtf8());
    const SeqRunFixture::Run r = SeqRunFixture::runProgram(
        ORVO2_EXE, {"-nw", "-e", "-b", dir.filePath(name + ".bat"), "-x"}, dir.path(), env);
    return r.status == 0 ? out : QString();
}

void tst_H5Load::sameSlicesAsItex_data()
{
    QTest::addColumn<QString>("loading");
    QTest::addColumn<QString>("geometry");   // commands both runs take, the ITEX run first
    QTest::addColumn<QString>("itexAngles"); // the ITEX run's angle file
    QTest::addColumn<double>("energy");      // the run record's; 0 stands for null
    QTest::addColumn<QString>("source");     // the run record's angles' source
    QTest::newRow("NXtomo, flats and darks at both ends, energy in keV") << "h5_load nxtomo.nxs"
                                                                         << ""
                                                                         << "" << 11560.0 << "even";
    QTest::newRow("data exchange, deflate") << "h5_load exchange.h5"
                                            << ""
                                            << "" << 0.0 << "even";
    QTest::newRow("paths at the root")
        << "h5_paths img_tomo img_bkg img_dark angle\nh5_load paths.h5"
        << ""
        << "" << 0.0 << "even";
    QTest::newRow("uneven angles, as from an angle file") << "h5_load jitter.h5"
                                                          << ""
                                                          << "jitter.txt" << 0.0 << "HDF5";
    QTest::newRow("a full turn") << "h5_load turn.h5"
                                 << "ct_scan_range 360"
                                 << "" << 0.0 << "HDF5";
}

void tst_H5Load::sameSlicesAsItex()
{
    QFETCH(QString, loading);
    QFETCH(QString, geometry);
    QFETCH(QString, itexAngles);
    QString itexLoading = QStringLiteral("images_load \"%1/itex\" *.img\ni0_load \"%1/i0.img\"\n"
                                         "bg_load \"%1/bg.img\"\n%2")
                              .arg(dir.path(), geometry);
    if (!itexAngles.isEmpty())
        itexLoading += QStringLiteral("\nct_angles_file \"%1\"").arg(dir.filePath(itexAngles));
    const QString itex = run(QStringLiteral("itex-") + QTest::currentDataTag(), itexLoading);
    QVERIFY(!itex.isEmpty());
    const QString h5 = run(QTest::currentDataTag(), loading + "\n" + geometry);
    QVERIFY(!h5.isEmpty());
    for (const char *slice : {"rec--00001.dat", "rec--00002.dat"}) {
        const QByteArray expected = SeqRunFixture::readFile(itex + "/" + slice);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(SeqRunFixture::readFile(h5 + "/" + slice), expected);
    }
    const QJsonObject record =
        QJsonDocument::fromJson(SeqRunFixture::readFile(h5 + "/rec-.json")).object();
    QFETCH(double, energy);
    QFETCH(QString, source);
    QCOMPARE(record.value("energy_eV").toDouble(0), energy);
    QCOMPARE(record.value("angles").toObject().value("source").toString(), source);
}

// h5py's view of a set's HDF5 file: each frame's float32 bytes in <slice>.bin
// beside it, and what it says of itself.
static const char h5Reader[] = R"(
import sys, json, h5py
path = sys.argv[1]
with h5py.File(path, 'r') as f:
    d = f['entry/data/data']
    for k, s in enumerate(f['entry/data/slice'][:]):
        open('%s-%d.bin' % (path, s), 'wb').write(d[k].astype('<f4').tobytes())
    print(json.dumps({'dtype': str(d.dtype), 'chunks': list(d.chunks), 'shape': list(d.shape),
                      'slices': [int(s) for s in f['entry/data/slice'][:]],
                      'region': list(d.attrs['region']), 'scale': d.attrs['scale'],
                      'record': json.loads(f['entry'].attrs['run_record'])}))
)";

void tst_H5Load::savedAsH5_data()
{
    QTest::addColumn<QString>("failing"); // ORVO2_FAIL_WRITES
    QTest::newRow("frames equal to the float TIFFs") << "";
    QTest::newRow("full disk: no file, the run fails") << ".h5";
}

void tst_H5Load::savedAsH5()
{
    QFETCH(QString, failing);
    const QString load = QStringLiteral("images_load \"%1/itex\" *.img\ni0_load \"%1/i0.img\"\n"
                                        "bg_load \"%1/bg.img\"\nauto_save_data_format ")
                             .arg(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVO2_FAIL_WRITES", failing);
    const QString name = QStringLiteral("h5-") + QTest::currentDataTag();
    const QString h5 = run(name, load + "h5", env);
    const QString file = dir.filePath(name) + "/rec-.h5";
    if (!failing.isEmpty()) {
        QVERIFY(h5.isEmpty());
        QVERIFY(!QFile::exists(file));
        QCOMPARE(QDir(dir.filePath(name)).entryList({"*.part"}, QDir::Files), QStringList());
        return;
    }
    QVERIFY(!h5.isEmpty());
    const QString tiff = run("tiff", load + "tiff");
    QVERIFY(!tiff.isEmpty());
    QProcess python;
    python.start(QStandardPaths::findExecutable("python3", {"/usr/bin"}),
                 {"-c", QString::fromUtf8(h5Reader), file});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonObject o = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QCOMPARE(o["dtype"].toString(), "float32");
    FloatTiff first;
    QVERIFY(FloatTiff::decode(SeqRunFixture::readFile(tiff + "/rec--00001.tif"), &first));
    const int w = first.width;
    const int h = first.height;
    QCOMPARE(o["shape"].toArray(), (QJsonArray{2, h, w}));
    QCOMPARE(o["chunks"].toArray(), (QJsonArray{1, h, w}));
    QCOMPARE(o["region"].toArray(), (QJsonArray{first.xPosition, first.yPosition,
                                                first.xPosition + w, first.yPosition + h}));
    QVERIFY(o["scale"].toString().contains("2P"));
    QCOMPARE(o["record"].toObject()["data_format"].toString(), "h5");
    QCOMPARE(o["record"].toObject()["slices"].toArray().size(), 2);
    for (int slice : {1, 2}) {
        FloatTiff t;
        const QString no = QStringLiteral("-%1").arg(slice, 5, 10, QLatin1Char('0'));
        QVERIFY(FloatTiff::decode(SeqRunFixture::readFile(tiff + "/rec-" + no + ".tif"), &t));
        const QByteArray expected(reinterpret_cast<const char *>(t.values.data()),
                                  qsizetype(t.values.size() * sizeof(float)));
        QCOMPARE(SeqRunFixture::readFile(file + "-" + QString::number(slice) + ".bin"), expected);
    }
}

// Each HDF5 file of a data directory is a set of the energy it gives, its flats and
// darks that set's I0 and BG: the slices are those of the same sets as ITEX files.
void tst_H5Load::sequentialOverFiles()
{
    const QString loop = QStringLiteral("ct_rot_ax_is_v 1\ncalc_ct2 1\nct_auto_exec 1\n"
                                        "auto_save_data 1\nauto_save_data_path \"%1\"\n"
                                        "auto_save_data_name seq\nLoop\nseq_exec_set\n"
                                        "ct_cor 16\nct_slice_from 1\nct_slice_to 2\ncalc_exec\n"
                                        "seq_exec_next\n:ifok :goto Loop\n");
    const QString itexDirs = QStringLiteral("seq_exec_dir \"%1/seq-itex\"\n"
                                            "seq_exec_select_i0 \"%1/seq-i0\" *.img\n"
                                            "bg_load \"%1/bg.img\"\n")
                                 .arg(dir.path());
    const QString h5Dirs =
        QStringLiteral("seq_exec_file_pattern *.nxs\nseq_exec_dir \"%1/seq-h5\"\n").arg(dir.path());
    QStringList outs;
    for (const QString &dirs : {itexDirs, h5Dirs}) {
        const QString out = dir.filePath(QStringLiteral("seq-out%1").arg(outs.size()));
        const QString script = out + ".bat";
        QVERIFY(SeqRunFixture::writeFile(script, (dirs + loop.arg(out)).toUtf8()));
        const SeqRunFixture::Run r =
            SeqRunFixture::runProgram(ORVO2_EXE, {"-nw", "-e", "-b", script, "-x"}, dir.path());
        QVERIFY2(r.status == 0, qPrintable(r.err.right(2000)));
        outs << out;
    }
    const QStringList slices = QDir(outs[0]).entryList({"*.dat"}, QDir::Files);
    QCOMPARE(slices.size(), 6);
    QCOMPARE(QDir(outs[1]).entryList({"*.dat"}, QDir::Files), slices);
    for (const QString &slice : slices)
        QVERIFY2(SeqRunFixture::readFile(outs[1] + "/" + slice) ==
                     SeqRunFixture::readFile(outs[0] + "/" + slice),
                 qPrintable(slice));
    const QJsonObject record =
        QJsonDocument::fromJson(SeqRunFixture::readFile(outs[1] + "/seq-7200eV.json")).object();
    QCOMPARE(record.value("energy_eV").toDouble(), 7200.0);
    const SeqRunFixture::Run listing =
        SeqRunFixture::runProgram(ORVO2_EXE, {"-e", "-b", outs[1] + ".bat", "-sets"}, dir.path());
    QCOMPARE(listing.status, 0);
    // -set K: the one set, loaded once (an empty stack announced first would fail it).
    QVERIFY(QDir(outs[1]).removeRecursively());
    const SeqRunFixture::Run one = SeqRunFixture::runProgram(
        ORVO2_EXE, {"-nw", "-e", "-b", outs[1] + ".bat", "-x", "-set", "1"}, dir.path());
    QCOMPARE(one.status, 0);
    const QStringList oneSet = QDir(outs[1]).entryList({"*.dat"}, QDir::Files);
    QCOMPARE(oneSet, slices.filter("7200eV"));
    for (const QString &slice : oneSet)
        QCOMPARE(SeqRunFixture::readFile(outs[1] + "/" + slice),
                 SeqRunFixture::readFile(outs[0] + "/" + slice));
    QCOMPARE(listing.out, QStringLiteral("# set\ttag\tfiles\ti0\n"
                                         "0\t7100eV\t1\t%1/seq-h5/scan0.nxs\n"
                                         "1\t7200eV\t1\t%1/seq-h5/scan1.nxs\n"
                                         "2\t7300eV\t1\t%1/seq-h5/scan2.nxs\n")
                              .arg(dir.path()));
}

QTEST_GUILESS_MAIN(tst_H5Load)
#include "tst_H5Load.moc"

#include "DemoGenerator.h"
#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "ct/SgmGeom.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

// One reconstructed slice as a data file holds it: pixel (x, z) -> value.
struct SliceText
{
    int n = 0;
    std::vector<double> values;
    bool ok = false;
};

SliceText readDat(const QString &path, int n)
{
    SliceText s;
    s.n = n;
    s.values.assign(static_cast<size_t>(n) * n, 0.0);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return s;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.size() < 7 || lines.at(0) != "#ORVO-CTImg")
        return s;
    int pixels = 0;
    for (int i = 6; i < lines.size(); ++i) {
        const QList<QByteArray> items = lines.at(i).split('\t');
        if (items.size() != 3)
            continue;
        const int x = items.at(0).toInt();
        const int z = items.at(1).toInt();
        if (x < 0 || z < 0 || x >= n || z >= n)
            return s;
        s.values[static_cast<size_t>(z) * n + x] = items.at(2).toDouble();
        ++pixels;
    }
    s.ok = pixels == n * n;
    return s;
}

std::unique_ptr<ImgData> openImage(const QString &fileName)
{
    std::unique_ptr<ImgData> img(ImgData::newImgData(ImgData::fileType(fileName)));
    if (!img)
        return nullptr;
    img->fileName = fileName;
    if (!img->open())
        return nullptr;
    return img;
}

// The same slice computed directly by the core, as the engines compute it.
struct CoreRecon
{
    ImgDatas stack;
    std::unique_ptr<ImgData> i0;
    std::unique_ptr<ImgData> bg;
    ImgData *i0Raw = nullptr;
    ImgData *bgRaw = nullptr;

    bool load(const QStringList &files, const QString &i0File, const QString &bgFile)
    {
        for (const QString &f : files)
            if (!stack.addFile(f))
                return false;
        i0 = openImage(i0File);
        bg = openImage(bgFile);
        i0Raw = i0.get();
        bgRaw = bg.get();
        stack.setI0Slot(&i0Raw);
        stack.setBgSlot(&bgRaw);
        return i0 && bg;
    }

    // N of the run and the slice's values (N x N), empty when unusable.
    std::vector<double> slice(double cor, int slice, int *nOut)
    {
        HSgm h;
        if (!genSinogram0(&h, stack, true, cor, slice))
            return {};
        int n = h.width;
        if (n % 2 != 0)
            n -= 1;
        CtFbp fbp;
        if (!fbp.setup(n, h.height) ||
            !fbp.reconstruct(h.sgm.data(), h.width, h.height, 0, n, 0, n))
            return {};
        std::vector<double> out(static_cast<size_t>(n) * n);
        for (int z = 0; z < n; ++z)
            std::copy(fbp.resultRow(z), fbp.resultRow(z) + n,
                      out.begin() + static_cast<long>(z) * n);
        *nOut = n;
        return out;
    }
};

QStringList filesOf(const QString &dir, const QString &pattern)
{
    QStringList files;
    for (const QFileInfo &info : QDir(dir).entryInfoList({pattern}, QDir::Files, QDir::Name))
        files << info.filePath();
    return files;
}

// Largest difference relative to the slice's largest magnitude: the data text
// keeps 6 significant digits.
double relativeDifference(const std::vector<double> &a, const std::vector<double> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e300;
    double maxAbs = 0.0, maxDiff = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        maxAbs = std::max(maxAbs, std::abs(b[i]));
        maxDiff = std::max(maxDiff, std::abs(a[i] - b[i]));
    }
    return maxAbs > 0 ? maxDiff / maxAbs : 1e300;
}

} // namespace

// Runs the real program headless over generated and measured scans and compares
// what it saved with the core's reconstruction of the same slices.
class TestReconstruction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void multiSliceRunOnEngines();
    void sequentialRunOverEnergies();
    void measuredScans_data();
    void measuredScans();

private:
    int run(const QString &script, QString &log);
    QString writeScript(const QString &name, const QString &text);
    QTemporaryDir dir;
    QString data;
    DemoSettings settings;
    DemoSettings flatSettings;
};

void TestReconstruction::initTestCase()
{
    QVERIFY(dir.isValid());
    data = dir.filePath("demo");
    settings.outDir = data;
    settings.width = 72;
    settings.height = 8;
    settings.projections = 60;
    settings.energies = 3;
    settings.noise = false;
    DemoGenerator gen(settings);
    QVERIFY2(gen.problem().isEmpty(), qPrintable(gen.problem()));
    QVERIFY(gen.generate());

    // The same scan with every energy in one folder, sets told apart by name.
    flatSettings = settings;
    flatSettings.outDir = dir.filePath("flat");
    flatSettings.layout = DemoSettings::Layout::Flat;
    QVERIFY(DemoGenerator(flatSettings).generate());
}

QString TestReconstruction::writeScript(const QString &name, const QString &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.toUtf8());
    return path;
}

int TestReconstruction::run(const QString &script, QString &log)
{
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(ORVO2_EXE, {"-nw", "-e", "-c", dir.filePath("none.cfg"), "-b", script, "-x"});
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        log = QString::fromUtf8(p.readAll()) + "<timeout>";
        return -1;
    }
    log = QString::fromUtf8(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void TestReconstruction::multiSliceRunOnEngines()
{
    DemoGenerator gen(settings);
    const QString text = DemoGenerator::energyText(gen.energyAt(1));
    const QString projDir = data + "/" + gen.projectionDir(text);
    const QString i0 = data + "/i0/" + DemoGenerator::i0FileName(text);
    const QString bg = data + "/bg/" + DemoGenerator::bgFileName();
    const QString out = dir.filePath("multi");
    const double cor = settings.corOrDefault();
    const QString script = writeScript(
        "multi.bat",
        QString("ct_rot_ax_is_v 1\nimages_load \"%1\" *.img\n"
                "i0_load \"%2\"\nbg_load \"%3\"\n"
                "ct_cor %4\n"
                "calc_ct2 1\nct_auto_exec 1\nct_threads 3\n"
                "ct_slice_from 6\nct_slice_to 1\nct_slice_step 2\n"
                "auto_save_data 1\nauto_save_data_path \"%5\"\nauto_save_data_name rec\n"
                "auto_save_image 1\nauto_save_image_path \"%5\"\n"
                "auto_save_image_name pic\n"
                "CALC_EXEC\n:echo run ended\n")
            .arg(projDir, i0, bg)
            .arg(cor)
            .arg(out));
    QString log;
    QCOMPARE(run(script, log), 0);
    QVERIFY2(log.contains(":echo run ended"), qPrintable(log));

    CoreRecon core;
    QVERIFY(core.load(filesOf(projDir, "*.img"), i0, bg));
    for (int slice : {6, 4, 2}) {
        int n = 0;
        const std::vector<double> expected = core.slice(cor, slice, &n);
        QVERIFY(!expected.empty());
        const QString name = QString("%1/rec--%2.dat").arg(out).arg(slice, 5, 10, QChar('0'));
        const SliceText saved = readDat(name, n);
        QVERIFY2(saved.ok, qPrintable(name + "\n" + log));
        const double diff = relativeDifference(saved.values, expected);
        QVERIFY2(diff < 1e-5, qPrintable(QString("slice %1 differs by %2").arg(slice).arg(diff)));
        QVERIFY(QFile::exists(QString("%1/pic--%2.png").arg(out).arg(slice, 5, 10, QChar('0'))));
    }
    QVERIFY(!QFile::exists(out + "/rec--00005.dat"));
    QVERIFY(!QFile::exists(out + "/rec--00000.dat"));
}

void TestReconstruction::sequentialRunOverEnergies()
{
    const QString data = flatSettings.outDir;
    DemoGenerator gen(flatSettings);
    const QString out = dir.filePath("seq");
    const double cor = settings.corOrDefault();
    const QString script = writeScript(
        "seq.bat", QString("ct_rot_ax_is_v 1\nseq_exec_dir \"%1/proj\"\n"
                           "seq_exec_select_i0 \"%1/i0\" *.img\n"
                           "bg_load \"%1/bg/%2\"\n"
                           "calc_ct2 1\nct_auto_exec 1\nct_threads 2\n"
                           "auto_save_data 1\nauto_save_data_path \"%3\"\nauto_save_data_name ct\n"
                           "auto_save_in_sub_folders 1\nauto_save_in_sub_folders_of_energy 1\n"
                           "Loop\nseq_exec_set\nct_cor %4\nct_slice_from 3\nct_slice_to 4\n"
                           "calc_exec\nseq_exec_next\n:ifok :goto Loop\n")
                       .arg(data, DemoGenerator::bgFileName(), out)
                       .arg(cor));
    QString log;
    QCOMPARE(run(script, log), 0);

    for (int k = 0; k < settings.energies; ++k) {
        const QString text = DemoGenerator::energyText(gen.energyAt(k));
        CoreRecon core;
        // Each set is reconstructed with the I0 image of its own energy.
        QVERIFY(core.load(filesOf(data + "/" + gen.projectionDir(text),
                                  flatSettings.sample + "-" + text + "-*.img"),
                          data + "/i0/" + DemoGenerator::i0FileName(text),
                          data + "/bg/" + DemoGenerator::bgFileName()));
        for (int slice : {3, 4}) {
            int n = 0;
            const std::vector<double> expected = core.slice(cor, slice, &n);
            const QString name =
                QString("%1/%2/ct-%2-%3.dat").arg(out, text).arg(slice, 5, 10, QChar('0'));
            const SliceText saved = readDat(name, n);
            QVERIFY2(saved.ok, qPrintable(name + "\n" + log));
            QVERIFY2(relativeDifference(saved.values, expected) < 1e-5, qPrintable(name));
        }
    }
}

void TestReconstruction::measuredScans_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("slice");
    QTest::newRow("tooth 16-bit") << "tooth" << 1;
    QTest::newRow("tooth 32-bit") << "tooth_u32" << 0;
    QTest::newRow("dls with detector faults") << "dls" << 67;
}

void TestReconstruction::measuredScans()
{
    QFETCH(QString, folder);
    QFETCH(int, slice);
    const QString shared = TestSupport::sharedDataDir();
    if (shared.isEmpty())
        QSKIP("the measured scans are not beside the project");
    const QString base = shared + "/" + folder;
    QFile json(base + "/geometry.json");
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject geometry = QJsonDocument::fromJson(json.readAll()).object();
    const QJsonObject set = geometry.value("sets").toObject().begin().value().toObject();
    const double cor = geometry.value("cor").toDouble();
    const QString projDir = base + "/" + geometry.value("proj_dir").toString();
    const QString pattern = set.value("proj_pattern").toString();
    const QString i0 = base + "/" + set.value("i0").toString();
    const QString bg = base + "/" + geometry.value("bg").toString();
    const QString out = dir.filePath("measured-" + folder);

    const QString script = writeScript(
        "measured.bat",
        QString("ct_rot_ax_is_v 1\nimages_load \"%1\" %2\ni0_load \"%3\"\nbg_load \"%4\"\n"
                "ct_cor %5\ncalc_ct2 1\nct_proc_slice %6\n"
                "auto_save_data 1\nauto_save_data_path \"%7\"\n"
                "auto_save_data_name m\ncalc_exec\n")
            .arg(projDir, pattern, i0, bg)
            .arg(cor)
            .arg(slice)
            .arg(out));
    QString log;
    QCOMPARE(run(script, log), 0);

    CoreRecon core;
    QVERIFY(core.load(filesOf(projDir, pattern), i0, bg));
    int n = 0;
    const std::vector<double> expected = core.slice(cor, slice, &n);
    QCOMPARE(n, geometry.value("n_fft").toInt());
    const QString name = QString("%1/m--%2.dat").arg(out).arg(slice, 5, 10, QChar('0'));
    const SliceText saved = readDat(name, n);
    QVERIFY2(saved.ok, qPrintable(name + "\n" + log));
    QVERIFY2(relativeDifference(saved.values, expected) < 1e-5, qPrintable(name));
    for (double v : saved.values)
        QVERIFY(std::isfinite(v));
}

QTEST_GUILESS_MAIN(TestReconstruction)
#include "tst_Reconstruction.moc"

#include "DemoGenerator.h"
#include "DemoPhantom.h"
#include "imgdata/ImgData.h"
#include "select/CtFileSet.h"
#include "sets/Kvn.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

DemoSettings smallSettings(const QString &outDir, DemoSettings::Layout layout)
{
    DemoSettings s;
    s.outDir = outDir;
    s.width = 40;
    s.height = 3;
    s.projections = 12;
    s.energies = 3;
    s.cor = 19.25;
    s.layout = layout;
    return s;
}

std::unique_ptr<ImgData> openImage(const QString &filePath)
{
    std::unique_ptr<ImgData> image(ImgData::newImgData(ImgData::fileType(filePath)));
    if (!image)
        return nullptr;
    image->fileName = filePath;
    image->isOk = image->open();
    return image->isOk ? std::move(image) : nullptr;
}

QStringList imgFiles(const QString &dir)
{
    return QDir(dir).entryList({"*.img"}, QDir::Files, QDir::Name);
}

QByteArray digestOfTree(const QString &root)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString &name : files) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly))
            hash.addData(file.readAll());
    }
    return hash.result();
}

} // namespace

class TstDemoLayout : public QObject
{
    Q_OBJECT

private slots:
    void namesFollowKvn_data();
    void namesFollowKvn();
    void itexHeader();
    void projectionsAreLineIntegrals();
    void chordsMatchThePhantom_data();
    void chordsMatchThePhantom();
    void noiseFromTheSeed();
    void truthAndGeometry();
    void refusedSettings_data();
    void refusedSettings();
};

void TstDemoLayout::namesFollowKvn_data()
{
    QTest::addColumn<bool>("flat");
    QTest::newRow("one sub-directory per energy") << false;
    QTest::newRow("all energies in one directory") << true;
}

void TstDemoLayout::namesFollowKvn()
{
    QFETCH(bool, flat);
    QTemporaryDir dir;
    const DemoSettings s = smallSettings(dir.path(), flat ? DemoSettings::Layout::Flat
                                                          : DemoSettings::Layout::SubDirs);
    DemoGenerator generator(s);
    QVERIFY(generator.generate());
    const QList<double> energies{7092.0, 7112.0, 7132.0};
    const QDir proj(dir.filePath("proj"));

    // The sets as the data directory panel forms them.
    QList<QFileInfoList> sets;
    QStringList setEnergyTexts;
    if (flat) {
        QVERIFY(proj.entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
        std::unique_ptr<CtFileSet> current;
        for (const QFileInfo &info : proj.entryInfoList({"*.img"}, QDir::Files, QDir::Name)) {
            if (current && current->belongs(info)) {
                current->addFile(info);
                continue;
            }
            if (current)
                sets << current->files;
            current = std::make_unique<CtFileSet>();
            current->setFirstFile(info);
            setEnergyTexts << current->energyText;
        }
        sets << current->files;
    } else {
        QVERIFY(imgFiles(proj.path()).isEmpty());
        const QStringList subDirs = proj.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        QCOMPARE(subDirs.size(), 3);
        for (int k = 0; k < 3; ++k) {
            // The sub-directory's own name gives the energy.
            QCOMPARE(energyOf(energyTextOf(subDirs[k])), energies[k]);
            sets << QDir(proj.filePath(subDirs[k]))
                        .entryInfoList({"*.img"}, QDir::Files, QDir::Name);
            setEnergyTexts << subDirs[k];
        }
    }

    QCOMPARE(sets.size(), 3);
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(setEnergyTexts[k], QString::number(energies[k]) + "_0eV");
        QCOMPARE(sets[k].size(), s.projections);
        for (int i = 0; i < s.projections; ++i) {
            const QString name = sets[k][i].fileName();
            QCOMPARE(name,
                     QString("demo-%1-%2.img").arg(setEnergyTexts[k]).arg(i, 5, 10, QChar('0')));
            QCOMPARE(sampleOf(name), QString("demo"));
            QCOMPARE(energyTextOf(name), setEnergyTexts[k]);
            const QString text = energyTextOf(name);
            QCOMPARE(unitFactorOf(text) * energyOf(text), energies[k]);
        }
    }

    const QStringList i0 = imgFiles(dir.filePath("i0"));
    QCOMPARE(i0.size(), 3);
    for (int k = 0; k < 3; ++k) {
        QCOMPARE(sampleOf(i0[k]), QString("i0"));
        QCOMPARE(energyTextOf(i0[k]), setEnergyTexts[k]);
    }
    QCOMPARE(imgFiles(dir.filePath("bg")), QStringList{"dark-00000.img"});
}

void TstDemoLayout::itexHeader()
{
    QTemporaryDir dir;
    DemoGenerator generator(smallSettings(dir.path(), DemoSettings::Layout::Flat));
    QVERIFY(generator.generate());
    QFile file(dir.filePath("bg/dark-00000.img"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.left(2), QByteArray("IM"));
    const int length = uchar(bytes[2]) | (uchar(bytes[3]) << 8);
    const QByteArray comment = bytes.mid(64, length);
    // The reader evaluates an item when its comma arrives: each needed item ends with one.
    QVERIFY(comment.contains("Prop_ImageWidth=40,"));
    QVERIFY(comment.contains("Prop_ImageHeight=3,"));
    QVERIFY(comment.contains("BytesPerPixel=2,"));
    QVERIFY(comment.endsWith(','));
    QCOMPARE(bytes.size(), 64 + length + 40 * 3 * 2);

    const auto image = openImage(file.fileName());
    QVERIFY(image);
    QCOMPARE(image->width, 40);
    QCOMPARE(image->height, 3);
}

// Without noise, the attenuation the program computes from I, I0 and BG is the
// phantom's line integral, up to the rounding of the counts.
void TstDemoLayout::projectionsAreLineIntegrals()
{
    QTemporaryDir dir;
    DemoSettings s = smallSettings(dir.path(), DemoSettings::Layout::Flat);
    s.noise = false;
    DemoGenerator generator(s);
    QVERIFY(generator.generate());
    const DemoPhantom phantom(0.9 * generator.centre(), s.height, s.edgeEnergy);

    const auto bg = openImage(dir.filePath("bg/dark-00000.img"));
    QVERIFY(bg);
    double largest = 0.0;
    for (int k : {0, 2}) {
        const double energy = generator.energyAt(k);
        const QString text = DemoGenerator::energyText(energy);
        const auto i0 = openImage(dir.filePath("i0/" + DemoGenerator::i0FileName(text)));
        QVERIFY(i0);
        for (int i : {0, 5, 11}) {
            const auto proj =
                openImage(dir.filePath("proj/" + generator.projectionFileName(text, i)));
            QVERIFY(proj);
            for (int y = 0; y < s.height; ++y) {
                std::vector<double> p(40), open(40), dark(40);
                proj->getLine(y, p.data());
                i0->getLine(y, open.data());
                bg->getLine(y, dark.data());
                for (int x = 0; x < 40; ++x) {
                    const double measured = std::log((open[x] - dark[x]) / (p[x] - dark[x]));
                    const double expected =
                        phantom.lineIntegral(y, energy, i * M_PI / s.projections, x - s.cor);
                    largest = std::max(largest, expected);
                    QVERIFY2(std::abs(measured - expected) < 2e-3,
                             qPrintable(QString("k %1 i %2 x %3 y %4: %5 vs %6")
                                            .arg(k)
                                            .arg(i)
                                            .arg(x)
                                            .arg(y)
                                            .arg(measured)
                                            .arg(expected)));
                }
            }
        }
    }
    QVERIFY(largest > 0.5); // the object is really there
}

void TstDemoLayout::chordsMatchThePhantom_data()
{
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("offset");
    QTest::newRow("0 degrees through the axis") << 0.0 << 0.0;
    QTest::newRow("30 degrees, off the axis") << M_PI / 6 << 7.3;
    QTest::newRow("90 degrees, negative offset") << M_PI / 2 << -9.1;
    QTest::newRow("150 degrees") << 5 * M_PI / 6 << 3.6;
}

// The projections and the true slices must describe the same object in the same
// orientation: sum the truth along the line the back projection uses.
void TstDemoLayout::chordsMatchThePhantom()
{
    QFETCH(double, theta);
    QFETCH(double, offset);
    const DemoPhantom phantom(30.0, 4, 7112.0);
    for (int slice : {0, 3}) {
        for (double energy : {7100.0, 7130.0}) {
            // Along the direction (sin theta, cos theta) every point satisfies
            // X cos(theta) - Z sin(theta) = offset.
            const double step = 0.002;
            double sum = 0.0;
            for (double t = -40.0; t < 40.0; t += step) {
                const double x = offset * std::cos(theta) + t * std::sin(theta);
                const double z = -offset * std::sin(theta) + t * std::cos(theta);
                sum += phantom.mu(slice, energy, x, z) * step;
            }
            const double analytic = phantom.lineIntegral(slice, energy, theta, offset);
            QVERIFY2(std::abs(sum - analytic) < 2e-3 * std::max(1.0, analytic),
                     qPrintable(QString("%1 vs %2").arg(sum).arg(analytic)));
        }
    }
    // The edge: the grain's attenuation jumps between the energies either side.
    QVERIFY(phantom.edgeFactor(7132.0) > 3.9 && phantom.edgeFactor(7092.0) < 1.1);
}

void TstDemoLayout::noiseFromTheSeed()
{
    QTemporaryDir a, b, c;
    DemoSettings s = smallSettings(a.path(), DemoSettings::Layout::Flat);
    s.seed = 7;
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = b.path();
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = c.path();
    s.seed = 8;
    QVERIFY(DemoGenerator(s).generate());
    QCOMPARE(digestOfTree(a.path()), digestOfTree(b.path()));
    QVERIFY(digestOfTree(a.path()) != digestOfTree(c.path()));
}

void TstDemoLayout::truthAndGeometry()
{
    QTemporaryDir dir;
    const DemoSettings s = smallSettings(dir.path(), DemoSettings::Layout::SubDirs);
    DemoGenerator generator(s);
    QVERIFY(generator.generate());

    QFile json(dir.filePath("geometry.json"));
    QVERIFY(json.open(QIODevice::ReadOnly));
    const QJsonObject geometry = QJsonDocument::fromJson(json.readAll()).object();
    // cor 19.25 of 40 pixels: half width 19, sinogram 37 samples, N 36, centre 18.
    QCOMPARE(geometry["cor"].toDouble(), 19.25);
    QCOMPARE(geometry["half_width"].toInt(), 19);
    QCOMPARE(geometry["sino_width"].toInt(), 37);
    QCOMPARE(geometry["n_fft"].toInt(), 36);
    QCOMPARE(geometry["centre"].toDouble(), 18.0);
    const QJsonObject set = geometry["sets"].toObject()["7132_0eV"].toObject();
    QCOMPARE(set["dir"].toString(), QString("proj/7132_0eV"));
    QCOMPARE(set["count"].toInt(), 12);
    QVERIFY(QFile::exists(dir.filePath(set["i0"].toString())));

    QFile truth(dir.filePath(set["truth"].toString()));
    QVERIFY(truth.open(QIODevice::ReadOnly));
    QCOMPARE(truth.size(), qint64(3 * 36 * 36 * 8));
    QDataStream in(&truth);
    in.setByteOrder(QDataStream::LittleEndian);
    in.setFloatingPointPrecision(QDataStream::DoublePrecision);
    std::vector<double> values(3 * 36 * 36);
    for (double &v : values)
        in >> v;
    const DemoPhantom phantom(0.9 * 18.0, 3, s.edgeEnergy);
    for (int slice = 0; slice < 3; ++slice)
        for (int z = 0; z < 36; z += 5)
            for (int x = 0; x < 36; x += 3)
                QCOMPARE(values[(slice * 36 + z) * 36 + x],
                         phantom.mu(slice, 7132.0, x - 18.0, z - 18.0));
    // Nothing outside the reconstruction circle.
    QCOMPARE(values[0], 0.0);
}

void TstDemoLayout::refusedSettings_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("cor");
    QTest::addColumn<QString>("sample");
    QTest::newRow("CoR at the edge") << 40 << 0.5 << "demo";
    QTest::newRow("CoR beyond the detector") << 40 << 45.0 << "demo";
    QTest::newRow("too narrow") << 4 << 2.0 << "demo";
    QTest::newRow("hyphen in the sample") << 40 << 19.5 << "a-b";
}

void TstDemoLayout::refusedSettings()
{
    QFETCH(int, width);
    QFETCH(double, cor);
    QFETCH(QString, sample);
    QTemporaryDir dir;
    DemoSettings s = smallSettings(dir.path(), DemoSettings::Layout::Flat);
    s.width = width;
    s.cor = cor;
    s.sample = sample;
    DemoGenerator generator(s);
    QVERIFY(!generator.problem().isEmpty());
    QVERIFY(!generator.generate());
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

QTEST_GUILESS_MAIN(TstDemoLayout)
#include "tst_DemoLayout.moc"

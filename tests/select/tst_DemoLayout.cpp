#include "DemoGenerator.h"
#include "DemoNoise.h"
#include "DemoPhantom.h"
#include "DemoScan.h"
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
    void projectionsAreLineIntegrals_data();
    void projectionsAreLineIntegrals();
    void chordsMatchThePhantom_data();
    void chordsMatchThePhantom();
    void noiseFromTheSeed();
    void poissonDraws_data();
    void poissonDraws();
    void truthAndGeometry();
    void refusedSettings_data();
    void refusedSettings();
    void rowsAreTheSameSums_data();
    void rowsAreTheSameSums();
    void energiesFile_data();
    void energiesFile();
    void scanGeometry_data();
    void scanGeometry();
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
void TstDemoLayout::projectionsAreLineIntegrals_data()
{
    QTest::addColumn<double>("axis");
    QTest::addColumn<int>("truthSize");
    QTest::newRow("axis near the middle, 180 degrees") << -1.0 << 36;
    // The field a full turn sweeps, 2 x 36 pixels, for a sample wider than the detector.
    QTest::newRow("half acquisition: axis at 0.9 W, 360 degrees") << 36.0 << 72;
}

void TstDemoLayout::projectionsAreLineIntegrals()
{
    QFETCH(double, axis);
    QFETCH(int, truthSize);
    QTemporaryDir dir;
    DemoSettings s = smallSettings(dir.path(), DemoSettings::Layout::Flat);
    s.noise = false;
    if (axis >= 0.0) {
        s.cor = -1.0;
        s.axis = axis;
        s.scanRange = 360;
    }
    DemoGenerator generator(s);
    QVERIFY(generator.generate());
    QCOMPARE(generator.truthSize(), truthSize);
    const double cor = s.corOrDefault();
    const DemoPhantom phantom(0.9 * generator.truthCentre(), s.height, s.edgeEnergy);

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
                    const double expected = phantom.lineIntegral(
                        y, energy, i * s.scanRange / 180.0 * M_PI / s.projections, x - cor);
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

// A seed gives the same files whatever the number of threads drawing them.
void TstDemoLayout::noiseFromTheSeed()
{
    QTemporaryDir a, b, c;
    DemoSettings s = smallSettings(a.path(), DemoSettings::Layout::Flat);
    s.seed = 7;
    s.threads = 1;
    s.defects = true;
    s.i0Frames = 2;
    s.dropBlock = 0.2;
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = b.path();
    s.threads = 3;
    QVERIFY(DemoGenerator(s).generate());
    s.outDir = c.path();
    s.seed = 8;
    QVERIFY(DemoGenerator(s).generate());
    QCOMPARE(digestOfTree(a.path()), digestOfTree(b.path()));
    QVERIFY(digestOfTree(a.path()) != digestOfTree(c.path()));
}

void TstDemoLayout::poissonDraws_data()
{
    QTest::addColumn<double>("mean");
    for (double mean : {0.5, 5.0, 9.99, 10.0, 40.0, 1000.0, 20000.0})
        QTest::addRow("%g", mean) << mean;
}

// The draws' mean, variance and the frequency of floor(mean) within 5 standard errors
// of the Poisson distribution's, on both sides of the switch between the methods.
void TstDemoLayout::poissonDraws()
{
    QFETCH(double, mean);
    const int n = 200000;
    DemoNoise noise(3, DemoNoise::Kind::Projection, quint64(mean));
    const double k = std::floor(mean);
    double sum = 0.0, squares = 0.0, atK = 0.0;
    for (int i = 0; i < n; ++i) {
        const double x = double(noise.poisson(mean));
        sum += x;
        squares += x * x;
        atK += x == k;
    }
    const double m = sum / n;
    const double variance = (squares - n * m * m) / (n - 1);
    const double p = std::exp(-mean + k * std::log(mean) - DemoNoise::logFactorial(k));
    QVERIFY2(std::abs(m - mean) < 5.0 * std::sqrt(mean / n), qPrintable(QString::number(m)));
    QVERIFY2(std::abs(variance - mean) < 5.0 * std::sqrt((mean + 2.0 * mean * mean) / n),
             qPrintable(QString::number(variance)));
    QVERIFY2(std::abs(atK / n - p) < 5.0 * std::sqrt(p * (1.0 - p) / n),
             qPrintable(QString::number(atK / n)));
    QCOMPARE(DemoNoise::logFactorial(200.0), std::lgamma(201.0));
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

void TstDemoLayout::rowsAreTheSameSums_data()
{
    QTest::addColumn<int>("species");
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("cor");
    QTest::newRow("one element, 0 degrees") << 1 << 0.0 << 31.25;
    QTest::newRow("one element, 117 degrees, axis off the middle") << 1 << 2.04 << 20.5;
    QTest::newRow("two species, 250 degrees") << 2 << 4.36 << 33.0;
}

// The generator projects and fills the truth row by row; the values must be exactly
// those of the point-wise functions the other tests check against the phantom.
void TstDemoLayout::rowsAreTheSameSums()
{
    QFETCH(int, species);
    QFETCH(double, theta);
    QFETCH(double, cor);
    const DemoPhantom phantom(27.0, 4, 7112.0, species);
    const int width = 64;
    std::vector<double> row(width);
    for (int slice : {0, 3}) {
        const auto ellipses = phantom.ellipses(slice, 7115.0);
        DemoPhantom::projectRow(ellipses, theta, cor, width, row.data());
        for (int x = 0; x < width; ++x)
            QCOMPARE(row[x], phantom.lineIntegral(slice, 7115.0, theta, x - cor));
        DemoPhantom::muRow(ellipses, cor, 5.0 - cor, width, row.data());
        for (int x = 0; x < width; ++x)
            QCOMPARE(row[x], phantom.mu(slice, 7115.0, x - cor, 5.0 - cor));
    }
}

void TstDemoLayout::energiesFile_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<double>>("energies");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("comments, blanks, CR LF")
        << QByteArray("# scan\r\n7100\r\n\r\n7111.5 # edge\r\n7150")
        << QList<double>{7100.0, 7111.5, 7150.0} << "";
    QTest::newRow("not a number") << QByteArray("7100\n71O5\n") << QList<double>{}
                                  << "line 2: \"71O5\" is not an energy";
    QTest::newRow("repeated") << QByteArray("7100\n7110\n7110\n") << QList<double>{}
                              << "line 3: 7110 eV does not follow 7110 eV";
    QTest::newRow("negative") << QByteArray("-5\n") << QList<double>{} << "line 1:";
    QTest::newRow("only comments")
        << QByteArray("# none\n\n") << QList<double>{} << "holds no energy";
}

void TstDemoLayout::energiesFile()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<double>, energies);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    QFile file(dir.filePath("energies.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    std::vector<double> read;
    const QString why = DemoScan::readEnergies(file.fileName(), &read);
    QVERIFY2(refusal.isEmpty() ? why.isEmpty() : why.contains(refusal), qPrintable(why));
    QCOMPARE(QList<double>(read.begin(), read.end()), energies);
    if (!refusal.isEmpty())
        return;
    // The sets take the energies of the file.
    DemoSettings s = smallSettings(dir.filePath("data"), DemoSettings::Layout::SubDirs);
    s.energyList = read;
    QVERIFY(DemoGenerator(s).generate());
    QCOMPARE(QDir(dir.filePath("data/proj")).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"7100_0eV", "7111_5eV", "7150_0eV"}));
}

void TstDemoLayout::scanGeometry_data()
{
    QTest::addColumn<int>("range");
    QTest::addColumn<double>("jitter");
    QTest::addColumn<double>("drop");
    QTest::addColumn<double>("decay");
    QTest::addColumn<int>("kept");
    QTest::newRow("360 degrees") << 360 << 0.0 << 0.0 << 0.0 << 40;
    QTest::newRow("jitter of 30 % of a step") << 180 << 0.3 << 0.0 << 0.0 << 40;
    QTest::newRow("10 % dropped in one block, 360") << 360 << 0.0 << 0.1 << 0.0 << 36;
    QTest::newRow("both, and a beam falling 2 %") << 180 << 0.3 << 0.1 << 0.02 << 36;
}

// The frames written follow the options, and angles.txt lists the frames written.
void TstDemoLayout::scanGeometry()
{
    QFETCH(int, range);
    QFETCH(double, jitter);
    QFETCH(double, drop);
    QFETCH(double, decay);
    QFETCH(int, kept);
    QTemporaryDir dir;
    DemoSettings s = smallSettings(dir.path(), DemoSettings::Layout::Flat);
    s.projections = 40;
    s.energies = 1;
    s.scanRange = range;
    s.anglesJitter = jitter;
    s.dropBlock = drop;
    s.beamDecay = decay;
    DemoGenerator generator(s);
    QVERIFY(generator.generate());
    QCOMPARE(imgFiles(dir.filePath("proj")).size(), kept);

    const std::vector<DemoFrame> frames = DemoScan::frames(s);
    QCOMPARE(int(frames.size()), kept);
    const double step = range / 40.0;
    QStringList angles;
    QFile file(dir.filePath("angles.txt"));
    if (file.open(QIODevice::ReadOnly))
        angles = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts).mid(1);
    QCOMPARE(angles.size(), s.writesAngles() ? kept : 0);
    double largestGap = 0.0;
    for (int i = 0; i < kept; ++i) {
        const double degrees = frames[i].theta * 180.0 / M_PI;
        // The nearest even angle lies within the jitter.
        const double even = std::round(degrees / step) * step;
        QVERIFY(std::abs(degrees - even) <= jitter * step + 1e-9);
        if (i > 0)
            largestGap = std::max(largestGap, degrees - frames[i - 1].theta * 180.0 / M_PI);
        if (!angles.isEmpty())
            QCOMPARE(angles[i].toDouble(), QString::number(degrees, 'g', 15).toDouble());
    }
    // A dropped block is one gap of the missing frames.
    QVERIFY(std::abs(largestGap - (40 - kept + 1) * step) <= 2 * jitter * step + 1e-9);
    QCOMPARE(frames.back().beam, decay > 0.0 ? 1.0 - decay : 1.0);
}

QTEST_GUILESS_MAIN(TstDemoLayout)
#include "tst_DemoLayout.moc"

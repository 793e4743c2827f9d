#include "DemoGenerator.h"

#include "DemoNoise.h"
#include "ItexWriter.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Fraction of the reconstruction circle the object may fill.
constexpr double objectFill = 0.9;

} // namespace

double DemoSettings::corOrDefault() const
{
    if (axis >= 0.0)
        return axis;
    return cor >= 0.0 ? cor : width / 2.0 - 0.75;
}

DemoGenerator::DemoGenerator(const DemoSettings &settings)
    : s(settings)
    , cor(settings.corOrDefault())
{
    if (!s.energyList.empty())
        s.energies = int(std::min(s.energyList.size(), size_t(100000)));
}

int DemoGenerator::truthSize() const
{
    const auto even = [](double width) { return 2 * int(std::ceil(width / 2.0)); };
    if (s.sampleWidth > 0.0)
        return even(s.sampleWidth);
    if (s.axis >= 0.0)
        return even(2.0 * std::max(cor, s.width - 1.0 - cor));
    return nFft();
}

DemoPhantom DemoGenerator::phantom() const
{
    return DemoPhantom(objectFill * truthCentre(), s.height, s.edgeEnergy, s.species);
}

int DemoGenerator::halfWidth() const
{
    return int(std::floor(std::min(cor, s.width - cor - 1.0)));
}

int DemoGenerator::nFft() const
{
    return (2 * halfWidth() - 1) / 2 * 2;
}

QString DemoGenerator::problem() const
{
    if (s.outDir.isEmpty())
        return QStringLiteral("no output directory");
    if (s.width < 8 || s.width > 65535)
        return QStringLiteral("width must be 8 to 65535");
    if (s.height < 1 || s.height > 65535)
        return QStringLiteral("height must be 1 to 65535");
    if (s.projections < 1 || s.projections > 100000)
        return QStringLiteral("projections must be 1 to 100000");
    if (s.energies < 1 || s.energies > 1000)
        return QStringLiteral("energies must be 1 to 1000");
    if (s.i0Frames < 1 || s.i0Frames > 1000)
        return QStringLiteral("I0 frames must be 1 to 1000");
    if (s.threads < 0 || s.threads > 1024)
        return QStringLiteral("threads must be 0 (one per core) to 1024");
    const QString geometry = DemoScan::problem(s);
    if (!geometry.isEmpty())
        return geometry;
    if (s.axis < 0.0 && (!std::isfinite(cor) || cor < 1.0 || cor > s.width - 2.0 || nFft() < 4))
        return QStringLiteral("the centre of rotation leaves no sinogram of 5 samples or more");
    if (!(s.edgeEnergy > 0.0) || !std::isfinite(s.edgeEnergy) || !std::isfinite(s.energyStep) ||
        !(energyAt(0) > 0.0))
        return QStringLiteral("energies must be positive");
    for (int k = 1; k < int(s.energyList.size()); ++k) {
        if (!(energyAt(k) > energyAt(k - 1)))
            return QStringLiteral("the energies must increase");
        if (energyText(energyAt(k)) == energyText(energyAt(k - 1)))
            return QStringLiteral("%1 eV and %2 eV share the file name text %3: energies "
                                  "must be 0.1 eV apart or more")
                .arg(energyAt(k - 1))
                .arg(energyAt(k))
                .arg(energyText(energyAt(k)));
    }
    if (!(s.flux > 0.0) || !(s.dark >= 0.0) || s.flux + s.dark > 60000.0)
        return QStringLiteral("flux and dark level must fit 16-bit pixels");
    if (s.sample.isEmpty() || s.sample.contains(QLatin1Char('-')))
        return QStringLiteral("the sample name must be non-empty and without hyphens");
    return QString();
}

double DemoGenerator::energyAt(int k) const
{
    if (!s.energyList.empty())
        return s.energyList[size_t(k)];
    return s.edgeEnergy + (k - (s.energies - 1) / 2.0) * s.energyStep;
}

QString DemoGenerator::energyText(double eV)
{
    return QString::number(eV, 'f', 1).replace(QLatin1Char('.'), QLatin1Char('_')) +
           QStringLiteral("eV");
}

QString DemoGenerator::runningNumber(int i)
{
    return QString::asprintf("%05d", i);
}

QString DemoGenerator::projectionDir(const QString &energyText) const
{
    // In sub-directory mode the directory name alone must give the energy, so it is
    // the bare energy text.
    return s.layout == DemoSettings::Layout::SubDirs ? QStringLiteral("proj/") + energyText
                                                     : QStringLiteral("proj");
}

QString DemoGenerator::projectionFileName(const QString &energyText, int i) const
{
    return QStringLiteral("%1-%2-%3.img").arg(s.sample, energyText, runningNumber(i));
}

QStringList DemoGenerator::loadLines(int k) const
{
    const QString text = energyText(energyAt(k));
    const QString base = s.outDir;
    return {QStringLiteral("ct_rot_ax_is_v 1"),
            QStringLiteral("images_load \"%1/%2\" %3-%4-*.img")
                .arg(base, projectionDir(text), s.sample, text),
            QStringLiteral("i0_load \"%1/i0/%2\"").arg(base, i0FileName(text)),
            QStringLiteral("bg_load \"%1/bg/%2\"").arg(base, bgFileName())};
}

QString DemoGenerator::i0FileName(const QString &energyText)
{
    return QStringLiteral("i0-%1-%2.img").arg(energyText, runningNumber(0));
}

QString DemoGenerator::bgFileName()
{
    return QStringLiteral("dark-%1.img").arg(runningNumber(0));
}

QString DemoGenerator::truthFileName(const QString &energyText) const
{
    return QStringLiteral("truth/%1-%2.raw").arg(s.sample, energyText);
}

// The open beam is brighter in the middle of the detector and a little weaker at
// higher energies, as behind a real monochromator, so that the flat-field
// correction by I0 matters.
double DemoGenerator::beamAt(int k, int x, int y) const
{
    const double u = (x - 0.5 * s.width) / (0.6 * s.width);
    const double v = (y - 0.5 * s.height) / (2.0 * s.height);
    const double profile = 0.8 + 0.2 * std::exp(-(u * u + v * v));
    const double drift = 1.0 - 0.05 * k / std::max(1, s.energies);
    return s.flux * profile * drift;
}

quint16 DemoGenerator::reading(double mean, DemoNoise *noise)
{
    const double value = noise && mean > 0.0 ? double(noise->poisson(mean)) : mean;
    return quint16(std::clamp(std::round(value), 0.0, 65535.0));
}

quint16 DemoGenerator::sumOfReadings(double beam, double dark, DemoNoise *noise)
{
    // The sum of two independent Poisson counts is a Poisson count of the summed mean, so
    // one draw does for both (capped as the sum of the two would be).
    if (noise)
        return reading(std::max(beam, 0.0) + std::max(dark, 0.0), noise);
    return quint16(std::min(65535, reading(beam, nullptr) + reading(dark, nullptr)));
}

int DemoGenerator::threadCount() const
{
    return s.threads > 0 ? s.threads : std::max(1, int(std::thread::hardware_concurrency()));
}

quint16 DemoGenerator::defective(quint16 value, int x, int projection, double darkMean) const
{
    // Positions as fractions of the width, so that every size of scan has them all.
    struct Gain
    {
        double at;
        double gain;
    };
    static const Gain gains[] = {
        {0.31, 1.01}, {0.38, 0.98}, {0.44, 1.03}, {0.58, 0.96}, {0.66, 1.05}};
    const auto column = [this](double at) { return int(at * s.width); };
    double gain = 1.0;
    for (const Gain &g : gains)
        if (x == column(g.at))
            gain = g.gain;
    if (x == column(0.52))
        return quint16(std::round(darkMean));
    const int stripeWidth = std::max(3, s.width / 64);
    const bool inStripeAngles =
        projection >= int(0.3 * s.projections) && projection < int(0.7 * s.projections);
    if (inStripeAngles && x >= column(0.72) && x < column(0.72) + stripeWidth)
        gain = 0.9;
    return quint16(std::clamp(std::round(value * gain), 0.0, 65535.0));
}

bool DemoGenerator::makeDirs() const
{
    QDir out(s.outDir);
    QStringList dirs{QStringLiteral("i0"), QStringLiteral("bg"), QStringLiteral("truth")};
    for (int k = 0; k < s.energies; ++k)
        dirs << projectionDir(energyText(energyAt(k)));
    for (const QString &dir : dirs) {
        if (!out.mkpath(dir)) {
            qDebug() << "Can not make demo data folder" << out.filePath(dir);
            return false;
        }
    }
    return true;
}

bool DemoGenerator::generate()
{
    const QString why = problem();
    if (!why.isEmpty()) {
        qDebug() << "Demo data settings refused:" << why;
        return false;
    }
    if (!makeDirs())
        return false;
    scan = DemoScan::frames(s);
    if (s.writesAngles() &&
        !DemoScan::writeAngles(QDir(s.outDir).filePath(QStringLiteral("angles.txt")), scan))
        return false;

    // A dark level with a fixed pattern over the detector, like a camera's offset.
    std::vector<double> darkMean(size_t(s.width) * size_t(s.height));
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            darkMean[size_t(y) * s.width + x] =
                s.dark * (1.0 + 0.1 * ((x * 7 + y * 13) % 11) / 10.0);

    if (!writeBg(darkMean))
        return false;
    if (s.species == 2 && !writeSpecies())
        return false;
    if (!writeEnergies(darkMean))
        return false;
    // The projections and I0 images were renamed into place without waiting for the disk
    // each; one sync puts them all there before geometry.json, the sign of a whole set, is
    // written.
    if (!syncDisk()) {
        qDebug() << "Can not sync the demo data to disk" << s.outDir;
        return false;
    }
    return writeGeometry();
}

bool DemoGenerator::syncDisk() const
{
#ifdef __linux__
    const int fd = ::open(QFile::encodeName(s.outDir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::syncfs(fd) == 0;
    ::close(fd);
    return synced;
#else
    ::sync();
    return true;
#endif
}

bool DemoGenerator::writeBg(const std::vector<double> &darkMean)
{
    DemoNoise noise(s.seed, DemoNoise::Kind::Dark, 0);
    std::vector<quint16> image(darkMean.size());
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = reading(darkMean[i], s.noise ? &noise : nullptr);
    return ItexWriter::write(QDir(s.outDir).filePath(QStringLiteral("bg/") + bgFileName()), s.width,
                             s.height, image);
}

// The two species' reference spectra every 0.25 eV, 10 eV beyond the scan on both
// sides, and their true weights on the grid of the truth slices (the same every slice).
bool DemoGenerator::writeSpecies() const
{
    const QDir out(s.outDir);
    if (!out.mkpath(QStringLiteral("references")))
        return false;
    for (int which = 0; which < 2; ++which) {
        const QString path =
            out.filePath(QStringLiteral("references/%1.csv").arg(which == 0 ? 'A' : 'B'));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            qDebug() << "Can not write demo reference file" << path;
            return false;
        }
        QTextStream text(&file);
        text.setRealNumberPrecision(12);
        text << "energy_eV,normalised_mu\n";
        for (double e = energyAt(0) - 10.0; e <= energyAt(s.energies - 1) + 10.0; e += 0.25)
            text << e << ',' << DemoPhantom::speciesShape(which, e, s.edgeEnergy) << '\n';
        text.flush();
        if (!file.commit()) {
            qDebug() << "Can not write demo reference file" << path;
            return false;
        }
    }
    const int n = truthSize();
    const double c = truthCentre();
    const DemoPhantom object = phantom();
    for (int which = 0; which < 2; ++which) {
        const QString path =
            out.filePath(QStringLiteral("truth/weight-%1.f64").arg(which == 0 ? 'A' : 'B'));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            qDebug() << "Can not write demo truth file" << path;
            return false;
        }
        QDataStream stream(&file);
        stream.setByteOrder(QDataStream::LittleEndian);
        stream.setFloatingPointPrecision(QDataStream::DoublePrecision);
        for (int slice = 0; slice < s.height; ++slice) {
            for (int z = 0; z < n; ++z) {
                for (int x = 0; x < n; ++x) {
                    double a = 0.0, b = 0.0;
                    object.speciesWeights(x - c, z - c, &a, &b);
                    stream << (which == 0 ? a : b);
                }
            }
        }
        if (stream.status() != QDataStream::Ok || !file.commit()) {
            qDebug() << "Can not write demo truth file" << path;
            return false;
        }
    }
    return true;
}

bool DemoGenerator::writeGeometry() const
{
    QJsonObject sets;
    QJsonArray energies;
    for (int k = 0; k < s.energies; ++k) {
        const double energy = energyAt(k);
        const QString text = energyText(energy);
        energies.append(energy);
        QJsonObject set;
        set["energy"] = energy;
        set["dir"] = projectionDir(text);
        set["i0"] = QStringLiteral("i0/") + i0FileName(text);
        set["proj_pattern"] = QStringLiteral("%1-%2-*.img").arg(s.sample, text);
        set["count"] = int(scan.size());
        set["truth"] = truthFileName(text);
        sets[text] = set;
    }
    QJsonObject truth;
    truth["format"] = QStringLiteral("float64 little-endian, slice after slice, rows z, columns x");
    truth["shape"] = QJsonArray{s.height, truthSize(), truthSize()};
    truth["unit"] = QStringLiteral("attenuation per pixel");
    truth["pixel"] = QStringLiteral("pixel (x, z) lies at (x - centre, z - centre) from the axis");

    QJsonObject geometry;
    geometry["width"] = s.width;
    geometry["height"] = s.height;
    geometry["proj"] = int(scan.size());
    geometry["cor"] = cor;
    geometry["rot_axis"] = QStringLiteral("vertical");
    geometry["half_width"] = halfWidth();
    geometry["sino_width"] = 2 * halfWidth() - 1;
    geometry["n_fft"] = nFft();
    geometry["centre"] = centre();
    geometry["sample"] = s.sample;
    geometry["energies"] = energies;
    geometry["edge_energy"] = s.edgeEnergy;
    geometry["layout"] = s.layout == DemoSettings::Layout::SubDirs ? QStringLiteral("subdirs")
                                                                   : QStringLiteral("flat");
    geometry["proj_dir"] = QStringLiteral("proj");
    geometry["i0_dir"] = QStringLiteral("i0");
    geometry["bg"] = QStringLiteral("bg/") + bgFileName();
    geometry["bytes_per_pixel"] = 2;
    geometry["noise"] = s.noise;
    geometry["defects"] = s.defects;
    geometry["seed"] = double(s.seed);
    geometry["flux"] = s.flux;
    geometry["i0_frames"] = s.i0Frames;
    geometry["dark"] = s.dark;
    geometry["sets"] = sets;
    if (truthSize() != nFft())
        truth["centre"] = truthCentre();
    geometry["truth"] = truth;
    geometry["source"] = QStringLiteral("orvo2demo: analytic ellipse phantom");
    if (s.species == 2) {
        geometry["species"] = 2;
        geometry["references"] = QJsonObject{{"A", QStringLiteral("references/A.csv")},
                                             {"B", QStringLiteral("references/B.csv")}};
        geometry["weights"] = QJsonObject{{"A", QStringLiteral("truth/weight-A.f64")},
                                          {"B", QStringLiteral("truth/weight-B.f64")}};
    }

    addScanGeometry(&geometry);

    const QString path = QDir(s.outDir).filePath(QStringLiteral("geometry.json"));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(QJsonDocument(geometry).toJson(QJsonDocument::Indented)) >= 0 && file.commit())
        return true;
    qDebug() << "Can not write demo geometry file" << path;
    return false;
}

// Only a scan that departs from the even 180 degree one says how; the default file
// stays as it was.
void DemoGenerator::addScanGeometry(QJsonObject *geometry) const
{
    QJsonObject &g = *geometry;
    if (s.scanRange != 180)
        g["scan_range"] = s.scanRange;
    if (s.writesAngles()) {
        g["angles"] = QStringLiteral("angles.txt");
        g["frames_scanned"] = s.projections;
    }
    if (s.anglesJitter > 0.0)
        g["angles_jitter"] = s.anglesJitter;
    if (s.dropBlock > 0.0)
        g["dropped_frames"] = DemoScan::droppedFrames(s);
    if (s.axis >= 0.0)
        g["axis"] = s.axis;
    if (s.sampleWidth > 0.0 || s.axis >= 0.0)
        g["sample_width"] = truthSize();
    if (s.beamDecay > 0.0)
        g["beam_decay"] = s.beamDecay;
}

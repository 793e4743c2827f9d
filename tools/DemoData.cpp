// orvo2demo: writes the demo CT-XAFS data set (see DemoGenerator.h).

#include "DemoGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cmath>
#include <cstdio>

namespace {

bool readInt(const QCommandLineParser &parser, const QString &name, int *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int v = parser.value(name).toInt(&ok);
    if (ok)
        *value = v;
    return ok;
}

// A value given, or the default left; false when the value is no number.
bool readDouble(const QCommandLineParser &parser, const QString &name, double *value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (ok && std::isfinite(v))
        *value = v;
    return ok && std::isfinite(v);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvo2demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a CT-XAFS demo data set: ITEX projections of an ellipse phantom at "
        "energies around an absorption edge, I0 and BG images, true slices and geometry.json.\n"
        "The projections and their photon noise are worked out on every core, each frame's "
        "noise from a stream of its own seeded from the seed, so a seed gives the same "
        "files on every machine."));
    parser.addHelpOption();
    const DemoSettings defaults;
    const auto withDefault = [](const QString &text, const QString &value) {
        return QStringLiteral("%1 (default: %2)").arg(text, value);
    };
    // The default shown in the help; `value` is also the option's value when not given,
    // unless it only describes the default.
    const auto option = [&](const char *name, const char *text, const char *valueName,
                            const QString &value, bool described = false) {
        return QCommandLineOption(QString::fromLatin1(name),
                                  withDefault(QString::fromLatin1(text), value),
                                  QString::fromLatin1(valueName), described ? QString() : value);
    };
    parser.addOptions({
        option("out", "Output directory.", "DIR", QStringLiteral("demo-data")),
        option("width", "Detector pixels per row.", "W", QString::number(defaults.width)),
        option("height", "Rows, i.e. slices.", "H", QString::number(defaults.height)),
        option("proj", "Frames scanned over the scan range.", "P",
               QString::number(defaults.projections)),
        option("energies", "Number of energies around the edge.", "E",
               QString::number(defaults.energies)),
        option("step", "eV between energies, centred on the edge.", "EV",
               QString::number(defaults.energyStep)),
        option("energies-file",
               "Energies in eV, one per line, increasing (# comments and blank lines "
               "skipped), in place of --energies and --step.",
               "FILE", QStringLiteral("none"), true),
        option("cor", "Centre of rotation in pixels.", "X", QStringLiteral("width/2 - 0.75"), true),
        option("seed", "Seed of the photon noise (and of the angles' jitter).", "S",
               QString::number(defaults.seed)),
        {"no-noise", "Write noise-free (rounded) intensities."},
        {"defects", "Add detector defects to the projections: gain errors, a dead column and "
                    "a wide partial stripe (ring artefacts)."},
        option("layout", "subdirs: one directory per energy; flat: all in one directory.",
               "subdirs|flat", QStringLiteral("subdirs")),
        option("sample", "Sample name of the file names.", "NAME", defaults.sample),
        option("flux", "Photons per pixel of the open beam.", "F", QString::number(defaults.flux)),
        option("i0-frames", "Frames averaged into each I0 image.", "K",
               QString::number(defaults.i0Frames)),
        option("species",
               "1: one absorbing element; 2: grains of two species, their reference "
               "spectra and true weight maps.",
               "1|2", QString::number(defaults.species)),
        option("scan-range", "Degrees the frames spread over, frame i at i range / P.", "180|360",
               QString::number(defaults.scanRange)),
        option("angles-jitter",
               "Moves each angle by a uniform random fraction up to +-F of a step (fixed "
               "by the seed) and writes the angles, in degrees, to angles.txt.",
               "F", QStringLiteral("0")),
        option("drop-block",
               "Drops a contiguous block of this fraction of the frames from the middle of "
               "the scan and writes the remaining angles to angles.txt.",
               "F", QStringLiteral("0")),
        option("axis",
               "Rotation axis at detector column X, in place of --cor, with the phantom "
               "sized by --sample-width: an axis near an edge with --scan-range 360 is a "
               "half acquisition.",
               "X", QStringLiteral("none"), true),
        option("sample-width",
               "Pixels across the field the phantom fills 0.9 of and the true slices "
               "cover; may exceed the detector.",
               "PIXELS",
               QStringLiteral("the 180-degree reconstruction's N, or with --axis "
                              "2 max(X, width - 1 - X)"),
               true),
        option("beam-decay",
               "Fraction the beam falls by over the scan, linearly from the first frame "
               "to the last (0.02: 2 %); I0 is taken at the full beam.",
               "F", QStringLiteral("0")),
    });
    parser.process(app);

    DemoSettings settings;
    settings.outDir = parser.value("out");
    settings.sample = parser.value("sample");
    settings.noise = !parser.isSet("no-noise");
    settings.defects = parser.isSet("defects");
    bool ok =
        readInt(parser, "width", &settings.width) && readInt(parser, "height", &settings.height) &&
        readInt(parser, "proj", &settings.projections) &&
        readInt(parser, "energies", &settings.energies) &&
        readInt(parser, "i0-frames", &settings.i0Frames) &&
        readInt(parser, "species", &settings.species) &&
        (settings.species == 1 || settings.species == 2) &&
        readInt(parser, "scan-range", &settings.scanRange) &&
        readDouble(parser, "step", &settings.energyStep) &&
        readDouble(parser, "flux", &settings.flux) && readDouble(parser, "cor", &settings.cor) &&
        readDouble(parser, "angles-jitter", &settings.anglesJitter) &&
        readDouble(parser, "drop-block", &settings.dropBlock) &&
        readDouble(parser, "axis", &settings.axis) &&
        readDouble(parser, "sample-width", &settings.sampleWidth) &&
        readDouble(parser, "beam-decay", &settings.beamDecay);
    if (ok && parser.isSet("seed"))
        settings.seed = parser.value("seed").toUInt(&ok);
    const QString layout = parser.value("layout");
    if (layout == QLatin1String("flat"))
        settings.layout = DemoSettings::Layout::Flat;
    else if (layout != QLatin1String("subdirs"))
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "orvo2demo: an option has a value that is not valid\n");
        return 2;
    }
    if (parser.isSet("energies-file")) {
        if (parser.isSet("energies") || parser.isSet("step")) {
            std::fprintf(stderr, "orvo2demo: --energies-file replaces --energies and --step; "
                                 "give one or the other\n");
            return 2;
        }
        const QString why =
            DemoScan::readEnergies(parser.value("energies-file"), &settings.energyList);
        if (!why.isEmpty()) {
            std::fprintf(stderr, "orvo2demo: %s\n", qPrintable(why));
            return 2;
        }
    }

    DemoGenerator generator(settings);
    const QString problem = generator.problem();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "orvo2demo: %s\n", qPrintable(problem));
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    if (!generator.generate()) {
        std::fprintf(stderr, "orvo2demo: writing failed\n");
        return 1;
    }
    std::printf(
        "orvo2demo: %d energies x %d projections of %d x %d, CoR %g, N %d, in %s (%lld ms)\n",
        generator.energyCount(), generator.frameCount(), settings.width, settings.height,
        settings.corOrDefault(), generator.nFft(), qPrintable(QDir(settings.outDir).absolutePath()),
        timer.elapsed());
    if (generator.truthSize() != generator.nFft())
        std::printf("orvo2demo: true slices of %d x %d pixels, the axis at %g of them\n",
                    generator.truthSize(), generator.truthSize(), generator.truthCentre());
    return 0;
}

// orvo2demo: writes the demo CT-XAFS data set (see DemoGenerator.h).

#include "DemoGenerator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvo2demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a CT-XAFS demo data set: ITEX projections of an ellipse phantom at "
        "energies around an absorption edge, I0 and BG images, true slices and geometry.json."));
    parser.addHelpOption();
    const DemoSettings defaults;
    parser.addOptions({
        {"out", "Output directory.", "DIR", QStringLiteral("demo-data")},
        {"width", "Detector pixels per row.", "W", QString::number(defaults.width)},
        {"height", "Rows, i.e. slices.", "H", QString::number(defaults.height)},
        {"proj", "Projections over 180 degrees.", "P", QString::number(defaults.projections)},
        {"energies", "Number of energies around the edge.", "E",
         QString::number(defaults.energies)},
        {"cor", "Centre of rotation in pixels (default width/2 - 0.75).", "X"},
        {"seed", "Seed of the photon noise.", "S", QString::number(defaults.seed)},
        {"no-noise", "Write noise-free (rounded) intensities."},
        {"defects", "Add detector defects to the projections: gain errors, a dead column and "
                    "a wide partial stripe (ring artefacts)."},
        {"layout", "subdirs: one directory per energy; flat: all in one directory.", "subdirs|flat",
         QStringLiteral("subdirs")},
        {"sample", "Sample name of the file names.", "NAME", defaults.sample},
        {"step", "eV between energies, centred on the edge.", "EV",
         QString::number(defaults.energyStep)},
        {"flux", "Photons per pixel of the open beam.", "F", QString::number(defaults.flux)},
        {"i0-frames", "Frames averaged into each I0 image.", "K",
         QString::number(defaults.i0Frames)},
        {"species",
         "1: one absorbing element; 2: grains of two species, their reference "
         "spectra and true weight maps.",
         "1|2", QString::number(defaults.species)},
    });
    parser.process(app);

    DemoSettings settings;
    settings.outDir = parser.value("out");
    settings.sample = parser.value("sample");
    settings.noise = !parser.isSet("no-noise");
    settings.defects = parser.isSet("defects");
    bool ok = readInt(parser, "width", &settings.width) &&
              readInt(parser, "height", &settings.height) &&
              readInt(parser, "proj", &settings.projections) &&
              readInt(parser, "energies", &settings.energies) &&
              readInt(parser, "i0-frames", &settings.i0Frames) &&
              readInt(parser, "species", &settings.species) &&
              (settings.species == 1 || settings.species == 2);
    if (parser.isSet("seed"))
        settings.seed = parser.value("seed").toUInt(&ok);
    if (ok && parser.isSet("step"))
        settings.energyStep = parser.value("step").toDouble(&ok);
    if (ok && parser.isSet("flux"))
        settings.flux = parser.value("flux").toDouble(&ok);
    if (ok && parser.isSet("cor"))
        settings.cor = parser.value("cor").toDouble(&ok);
    const QString layout = parser.value("layout");
    if (layout == QLatin1String("flat"))
        settings.layout = DemoSettings::Layout::Flat;
    else if (layout != QLatin1String("subdirs"))
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "orvo2demo: an option has a value that is not valid\n");
        return 2;
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
        settings.energies, settings.projections, settings.width, settings.height,
        settings.corOrDefault(), generator.nFft(), qPrintable(QDir(settings.outDir).absolutePath()),
        timer.elapsed());
    return 0;
}

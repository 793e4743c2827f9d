// Prints the time of the centre-of-rotation estimate and of stripe removal for a
// stack of W-wide frames and P projections (a noisy demo scan, 5 rows, the axis
// 5 % of the width off the middle), with the reconstruction of the same slice beside them.
// Medians of several runs on one core (nothing here is threaded).
//
//   orvo2benchcor            W 2048, P 1800
//   orvo2benchcor W P        another size
//   orvo2benchcor --quick    W 256, P 180, one run each (a smoke test)

#include "BenchTiming.h"
#include "DemoGenerator.h"
#include "ct/CorEstimate.h"
#include "ct/CtFbp.h"
#include "ct/HSgm.h"
#include "ct/RingRemoval.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    int width = quick ? 256 : 2048;
    int projections = quick ? 180 : 1800;
    if (args.size() == 3 && !quick) {
        width = args.at(1).toInt();
        projections = args.at(2).toInt();
    }
    const int runs = quick ? 1 : 7;

    QTemporaryDir dir;
    DemoSettings s;
    s.outDir = dir.path();
    s.width = width;
    s.height = 5;
    s.projections = projections;
    s.energies = 1;
    s.cor = std::floor(width * 0.55) + 0.5;
    s.layout = DemoSettings::Layout::Flat;
    QElapsedTimer made;
    made.start();
    if (!DemoGenerator(s).generate()) {
        std::fprintf(stderr, "orvo2benchcor: can not write the scan\n");
        return 1;
    }
    const QString energy = DemoGenerator::energyText(DemoGenerator(s).energyAt(0));
    const QDir proj(dir.filePath(QStringLiteral("proj")));
    ImgDatas stack;
    for (const QString &f : proj.entryList({QStringLiteral("*.img")}, QDir::Files, QDir::Name))
        stack.addFile(proj.filePath(f));
    std::unique_ptr<ImgData> i0(ImgData::newImgData(ImgData::ITEX));
    std::unique_ptr<ImgData> bg(ImgData::newImgData(ImgData::ITEX));
    i0->fileName = dir.filePath(QStringLiteral("i0/") + DemoGenerator::i0FileName(energy));
    bg->fileName = dir.filePath(QStringLiteral("bg/") + DemoGenerator::bgFileName());
    i0->isOk = i0->open();
    bg->isOk = bg->open();
    ImgData *i0Slot = i0.get();
    ImgData *bgSlot = bg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);
    std::printf("scan %d x 5 rows x %d projections, true CoR %.2f (written in %.1f s)\n", width,
                projections, s.cor, made.elapsed() * 1e-3);

    CorEstimate::Result found;
    const double corTime = medianSeconds(
        runs, [&] { found = CorEstimate::fromStack(stack, true, 2, CorEstimate::wholeLine()); });
    std::printf("CoR estimate (5 rows):     %8.4f s   found %.3f (error %+.3f)\n", corTime,
                found.cor, found.cor - s.cor);

    HSgm sgm;
    if (!genSinogram0(&sgm, stack, true, s.cor, 2))
        return 1;
    for (int window : {11, 31}) {
        const double ringTime = medianSeconds(std::max(1, runs / 2), [&] {
            std::vector<double> rows = sgm.sgm;
            RingRemoval::apply(rows.data(), sgm.width, sgm.height, window);
        });
        std::printf("ring removal, window %2d:   %8.4f s   (sinogram %d x %d)\n", window, ringTime,
                    sgm.width, sgm.height);
    }
    const int n = sgm.width / 2 * 2;
    CtFbp fbp;
    fbp.setup(n, sgm.height);
    const double fbpTime = medianSeconds(std::max(1, runs / 2), [&] {
        fbp.reconstruct(sgm.sgm.data(), sgm.width, sgm.height, 0, n, 0, n);
    });
    std::printf("the slice's FBP (N %d):    %8.4f s\n", n, fbpTime);
    return 0;
}

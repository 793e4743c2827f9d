#include "StackView.h"

#include "disp/ProcCtrl.h"
#include "disp/RawDisp.h"
#include "disp/SeekCtrl.h"
#include "imgdata/ImgDatas.h"
#include "run/RunAccount.h"
#include "run/StackLoader.h"
#include "select/SelectDataFiles.h"
#include "ui_Body.h"

#include <QDebug>
#include <algorithm>

StackView::StackView(Parts parts)
    : p(std::move(parts))
{
}

void StackView::load(const QStringList &files, bool clear)
{
    Ui::Body *ui = p.form;
    ImgDatas *imgDatas = p.stack;
    if (clear) {
        // A new stack: its frame size is set anew by its first image.
        imgDatas->clear();
        // Angles that came with the stack before go with it.
        ui->procCtrl->setScanAngles({}, QString());
        ui->seekCtrl->setMaximum(0);
        ui->seekCtrl->setIndex(0);
        p.raw->scaleSet = false;
    }
    const StackLoader::Result load = StackLoader::addFiles(*imgDatas, files);
    for (const QString &file : load.loaded)
        ui->CTFiles->addFileName(file);
    p.account->addSkippedFiles(load.skipped);
    const bool vertical = ui->procCtrl->rotAxIsV();
    const int w = imgDatas->width();
    const int h = imgDatas->height();
    const bool resetConds = firstLoad || !ui->CTFiles->keepConditions();
    if (resetConds && imgDatas->count() > 0) {
        const int along = vertical ? h : w;
        const int across = vertical ? w : h;
        const double corBefore = ui->procCtrl->cor();
        ui->procCtrl->setSliceTo(along - 1);
        ui->procCtrl->setSliceNo(along / 2);
        ui->procCtrl->setCor(across / 2);
        // A centre set before a loop's loads is replaced here: the log says so, so
        // that a script knows ct_cor belongs after the load.
        if (ui->procCtrl->cor() != corBefore)
            qDebug() << "Centre of rotation reset to" << ui->procCtrl->cor() << "on load";
        qDebug() << "Slice range reset to 0 -" << along - 1
                 << "and the region to the whole image on load";
    }
    ui->seekCtrl->setMaximum(std::max(0, imgDatas->count() - 1));
    p.showRaw();
    if (ui->procCtrl->autoUpdate())
        p.regenerateSinogram();
    if (resetConds && imgDatas->count() > 0) {
        const double e = (vertical ? w : h) - 1;
        p.regionEverywhere(0, 0, e, e);
    }
    if (imgDatas->count() > 0)
        firstLoad = false;
}

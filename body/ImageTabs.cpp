#include "ImageTabs.h"

#include "ct/CtCalc.h"
#include "disp/PopDockBase.h"
#include "disp/RawDisp.h"
#include "disp/Sinogram.h"
#include "disp/SliceUnitLabel.h"
#include "select/SelectAImgFile.h"
#include "ui_Body.h"

#include <QCoreApplication>
#include <QGridLayout>

// The tabs' titles keep the main window's translation context.
ImageTabs ImageTabs::build(Ui::Body *ui, ImgDatas *imgDatas)
{
    ImageTabs t;
    auto *rawDisp = t.raw = new RawDisp;
    rawDisp->imgDatas = imgDatas;
    auto *sinogram = t.sinogram = new Sinogram;
    sinogram->setImgDatas(imgDatas);
    sinogram->setProcCtrl(ui->procCtrl);
    auto *ctCalc = t.ct1 = new CtCalc;
    ctCalc->setSinogram(sinogram);

    const struct
    {
        QWidget *tab;
        QWidget *content;
        const char *title;
    } places[] = {
        {ui->RawImageTab, rawDisp, QT_TRANSLATE_NOOP("Body", "Measured Raw Image")},
        {ui->SinogramTab, sinogram, QT_TRANSLATE_NOOP("Body", "Check Sinogram")},
        {ui->CtImageTab, ctCalc, QT_TRANSLATE_NOOP("Body", "CT Reconstruction")},
        {ui->I0ImageTab, ui->I0ImgSel->display(), QT_TRANSLATE_NOOP("Body", "I0 Image")},
        {ui->BGImageTab, ui->BGImgSel->display(), QT_TRANSLATE_NOOP("Body", "BG Image")},
    };
    for (const auto &place : places) {
        auto *dock = new PopDockBase(place.tab);
        dock->setContent(place.content);
        dock->setPopTitle(QCoreApplication::translate("Body", place.title));
        static_cast<QGridLayout *>(place.tab->layout())->addWidget(dock, 0, 0);
    }
    static_cast<QGridLayout *>(ui->CtImageTab->layout())->addWidget(new SliceUnitLabel, 1, 0);
    ui->ImgsTab->setCurrentIndex(0);
    QObject::connect(ui->I0ImgSel, &SelectAImgFile::imageShown, ui->ImgsTab,
                     [ui] { ui->ImgsTab->setCurrentWidget(ui->I0ImageTab); });
    QObject::connect(ui->BGImgSel, &SelectAImgFile::imageShown, ui->ImgsTab,
                     [ui] { ui->ImgsTab->setCurrentWidget(ui->BGImageTab); });
    return t;
}

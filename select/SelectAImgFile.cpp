#include "SelectAImgFile.h"

#include "ui_SelectAImgFileBase.h"

#include "disp/ColorBar.h"
#include "disp/FieldFit.h"
#include "disp/ImgDispWPV.h"
#include "imgdata/ImgData.h"
#include "util/Numbers.h"

#include <QDebug>
#include <QTime>

#include <vector>

SelectAImgFile::SelectAImgFile(QWidget *parent)
    : SelectAFile(parent)
    , base(std::make_unique<Ui::SelectAImgFileBase>())
    , disp(new ImgDispWPV)
{
    auto *frame = new QFrame(this);
    base->setupUi(frame);
    FieldFit::fit(base->ExpTimeLE, FieldFit::numberSample());
    addToRow(frame, 5);
    defaultExpTime = Numbers::toFiniteDouble(base->ExpTimeLE->text());

    connect(disp.data(), &ImgDispWPV::newPosInvY, this, &SelectAImgFile::noticedNewPos);
    connect(this, &SelectAFile::fileSelected, this, &SelectAImgFile::loadImage);
    connect(this, &SelectAFile::clear, this, &SelectAImgFile::clear);
    connect(base->ShowImg, &QPushButton::clicked, this, &SelectAImgFile::showImage);
    connect(disp.data(), &ImgDispWCBar::newBar, this, [this] { renderImage(true); });
}

SelectAImgFile::~SelectAImgFile()
{
    delete disp.data();
}

ImgDispWPV *SelectAImgFile::display() const
{
    return disp.data();
}

double SelectAImgFile::expTime() const
{
    return Numbers::toFiniteDouble(base->ExpTimeLE->text());
}

void SelectAImgFile::setExpTime(double time)
{
    base->ExpTimeLE->setText(Numbers::text(time));
}

void SelectAImgFile::showImage()
{
    if (img && disp)
        disp->show();
    emit imageShown();
}

void SelectAImgFile::noticedNewPos(double x, double y)
{
    if (!img || !disp)
        return;
    const int ix = Numbers::saturateToInt(x);
    const int iy = Numbers::saturateToInt(y);
    double value = 0.0;
    if (ix >= 0 && ix < img->width && iy >= 0 && iy < img->height) {
        std::vector<double> line(static_cast<size_t>(img->width));
        value = img->getLine(iy, line.data())[ix];
    }
    disp->setVal(value);
}

void SelectAImgFile::clear()
{
    setImage(nullptr);
    setExpTime(defaultExpTime);
}

void SelectAImgFile::loadImage(const QString &fname)
{
    qDebug() << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << "loading" << fname;
    std::unique_ptr<ImgData> loaded(ImgData::newImgData(ImgData::fileType(fname)));
    if (!loaded) {
        setStat(false);
        return;
    }
    loaded->fileName = fname;
    if (!loaded->open()) {
        // The image loaded before stays in use, so the display keeps showing it.
        setStat(false);
        return;
    }
    setImage(std::move(loaded));
    setStat(true);
    renderImage(false);
    if (disp)
        disp->show();
}

void SelectAImgFile::setImage(std::unique_ptr<ImgData> image)
{
    img = std::move(image);
    imgRaw = img.get();
}

void SelectAImgFile::renderImage(bool keepRange)
{
    if (!img || !disp)
        return;
    GreyScale scale = disp->CBar->greyScale();
    img->toImage(&disp->image, &scale, keepRange || disp->CBar->fixed());
    disp->CBar->setMin(scale.min);
    disp->CBar->setMax(scale.max);
    disp->CBar->update();
    disp->newImage();
}

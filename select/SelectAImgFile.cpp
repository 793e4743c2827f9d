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
    if (changeGuard && changeGuard([this] { clear(); }))
        return;
    failed = false;
    failedName.clear();
    setImage(nullptr);
    setExpTime(defaultExpTime);
}

void SelectAImgFile::loadImage(const QString &fname)
{
    if (changeGuard && changeGuard([this, fname] { loadImage(fname); }))
        return;
    qDebug() << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")) << "loading" << fname;
    std::unique_ptr<ImgData> loaded(ImgData::newImgData(ImgData::fileType(fname)));
    if (!loaded) {
        dropImage(fname, QStringLiteral("not an ITEX or TIFF file"));
        return;
    }
    loaded->fileName = fname;
    if (!loaded->open()) {
        dropImage(fname, QStringLiteral("can not be read (missing, truncated or damaged)"));
        return;
    }
    failed = false;
    failedName.clear();
    setImage(std::move(loaded));
    setStat(true);
    renderImage(false);
    if (disp)
        disp->show();
}

void SelectAImgFile::takeImage(std::unique_ptr<ImgData> image)
{
    auto held = std::make_shared<std::unique_ptr<ImgData>>(std::move(image));
    if (changeGuard && changeGuard([this, held] { takeImage(std::move(*held)); }))
        return;
    if (!*held || !(*held)->isOk) {
        dropImage(*held ? (*held)->fileName : QString(), QStringLiteral("no image read"));
        return;
    }
    failed = false;
    failedName.clear();
    setImage(std::move(*held));
    setStat(true);
    renderImage(false);
}

void SelectAImgFile::dropImage(const QString &fname, const QString &reason)
{
    // Keeping the image loaded before would let a reconstruction use the image of
    // another file (another energy's I0) under this file's name.
    qDebug().noquote() << "Image file not loaded, no image is held :" << fname << ":" << reason;
    failed = true;
    failedName = fname;
    setImage(nullptr);
    setStat(false);
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

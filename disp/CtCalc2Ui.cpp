#include "CtCalc2Ui.h"

#include "disp/ColorBar.h"
#include "disp/FieldFit.h"
#include "disp/ImgDispWPV.h"
#include "ui_CtCalc.h"
#include "util/Numbers.h"

#include <array>
#include <cmath>

namespace {

using Fields = std::array<QLineEdit *, 4>;

std::array<double, 4> readFields(const Fields &fields)
{
    std::array<double, 4> values{};
    for (size_t i = 0; i < fields.size(); ++i)
        values[i] = Numbers::toFiniteDouble(fields[i]->text());
    return values;
}

double finiteOrZero(double v)
{
    return std::isfinite(v) ? v : 0.0;
}

// Writes the four values and tells whether the texts, read back, differ from
// before: a change below the 6 significant digits shown does not count, and a
// non-finite value reads as 0, so repeated calls always settle.
bool writeFields(const Fields &fields, const std::array<double, 4> &values)
{
    const std::array<double, 4> old = readFields(fields);
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i]->setText(Numbers::text(values[i]));
    return readFields(fields) != old;
}

} // namespace

CtCalc2Ui::CtCalc2Ui(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::CtCalc)
{
    ui->setupUi(this);
    fitFields(ui);
    // The engines are started by the main window for a whole run; the shared
    // form's own start controls belong to the interactive CT1 panel.
    ui->StartCalc->hide();
    ui->CalcAtOnce->hide();
    setCR(0, 0, 2047, 2047);
    cRChanged = false;
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc2Ui::setCRegion);
    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc2Ui::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc2Ui::noticedNewPos);
}

void CtCalc2Ui::fitFields(Ui::CtCalc *form)
{
    for (QLineEdit *field : {form->Drx0, form->Drz0, form->Drx1, form->Drz1, form->Crx0, form->Crz0,
                             form->Crx1, form->Crz1, form->SpentT})
        FieldFit::fit(field, FieldFit::numberSample());
    FieldFit::fit(form->ShowSliceNo, FieldFit::integerSample());
    for (QLineEdit *field : {form->StartT, form->EndT})
        FieldFit::fit(field, FieldFit::timeSample());
}

CtCalc2Ui::~CtCalc2Ui()
{
    delete ui;
}

ImgDispWPV *CtCalc2Ui::display() const
{
    return ui->DispCt;
}

ColorBar *CtCalc2Ui::bar() const
{
    return ui->DispCt->CBar;
}

QImage &CtCalc2Ui::image()
{
    return ui->DispCt->image;
}

double CtCalc2Ui::dRx0() const
{
    return Numbers::toFiniteDouble(ui->Drx0->text());
}

double CtCalc2Ui::dRz0() const
{
    return Numbers::toFiniteDouble(ui->Drz0->text());
}

double CtCalc2Ui::dRx1() const
{
    return Numbers::toFiniteDouble(ui->Drx1->text());
}

double CtCalc2Ui::dRz1() const
{
    return Numbers::toFiniteDouble(ui->Drz1->text());
}

double CtCalc2Ui::cRx0() const
{
    return Numbers::toFiniteDouble(ui->Crx0->text());
}

double CtCalc2Ui::cRz0() const
{
    return Numbers::toFiniteDouble(ui->Crz0->text());
}

double CtCalc2Ui::cRx1() const
{
    return Numbers::toFiniteDouble(ui->Crx1->text());
}

double CtCalc2Ui::cRz1() const
{
    return Numbers::toFiniteDouble(ui->Crz1->text());
}

void CtCalc2Ui::noticedNewPos(double x, double z)
{
    if (resultRows < 1 || resultWidth < 1)
        return;
    const int column = Numbers::saturateToInt(x);
    const int row = Numbers::saturateToInt(z);
    if (column < 0 || column >= resultWidth || row < 0 || row >= resultRows)
        return;
    ui->DispCt->setVal(resultValues.at(qsizetype(row) * resultWidth + column));
}

void CtCalc2Ui::noticedNewS(QRectF s)
{
    setDR(s.x(), s.y(), s.x() + s.width(), s.y() + s.height());
}

// Every pixel that is at least partly visible is calculated.
void CtCalc2Ui::setCRegion()
{
    setCR(std::floor(dRx0()), std::floor(dRz0()), std::ceil(dRx1()), std::ceil(dRz1()));
}

void CtCalc2Ui::showStartTime()
{
    startTime = QDateTime::currentDateTime();
    ui->StartT->setText(startTime.toString(QStringLiteral("hh:mm:ss.zzz")));
}

void CtCalc2Ui::showEndTime()
{
    endTime = QDateTime::currentDateTime();
    ui->EndT->setText(endTime.toString(QStringLiteral("hh:mm:ss.zzz")));
}

void CtCalc2Ui::showSpentT()
{
    ui->SpentT->setText(Numbers::text(startTime.msecsTo(endTime) / 1000.0));
}

void CtCalc2Ui::showSliceNo(int no)
{
    ui->ShowSliceNo->setText(QString::number(no));
}

void CtCalc2Ui::newImage()
{
    ui->DispCt->newImage();
    ui->DispCt->dispA()->update();
}

void CtCalc2Ui::saveImage(QString fname)
{
    ui->DispCt->saveImage(fname);
}

void CtCalc2Ui::setCR(double rx0, double rz0, double rx1, double rz1)
{
    const std::array<double, 4> values{finiteOrZero(rx0), finiteOrZero(rz0), finiteOrZero(rx1),
                                       finiteOrZero(rz1)};
    if (!writeFields({ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1}, values))
        return;
    cRChanged = true;
    emit cRUpdated(values[0], values[1], values[2], values[3]);
}

void CtCalc2Ui::setDR(double rx0, double rz0, double rx1, double rz1)
{
    const std::array<double, 4> values{finiteOrZero(rx0), finiteOrZero(rz0), finiteOrZero(rx1),
                                       finiteOrZero(rz1)};
    if (!writeFields({ui->Drx0, ui->Drz0, ui->Drx1, ui->Drz1}, values))
        return;
    ImgDispWPV *display = ui->DispCt;
    display->s = QRectF(values[0], values[1], values[2] - values[0], values[3] - values[1]);
    // A following newImage() keeps this window instead of showing the whole picture.
    display->scaleSet = true;
    display->dispA()->update();
    emit dRUpdated(values[0], values[1], values[2], values[3]);
}

void CtCalc2Ui::setFixColorScale(bool f)
{
    bar()->setFixColorScale(f);
}

void CtCalc2Ui::setCBarMinMaxForced(double min, double max)
{
    bar()->setMin(min);
    bar()->setMax(max);
}

void CtCalc2Ui::showResult(QImage picture, QVector<double> values, int width, int rows)
{
    // Values that do not cover the stated size would be read past their end.
    if (width < 0 || rows < 0 || values.size() != qsizetype(width) * rows) {
        width = rows = 0;
        values.clear();
    }
    resultValues = std::move(values);
    resultWidth = width;
    resultRows = rows;
    ui->DispCt->image = std::move(picture);
    newImage();
}

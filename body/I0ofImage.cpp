#include "I0ofImage.h"

#include "ui_I0ofImage.h"

#include "disp/FieldFit.h"

I0ofImage::I0ofImage(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::I0ofImage)
{
    ui->setupUi(this);
    FieldFit::fit(ui->I0Val, FieldFit::numberSample());
}

I0ofImage::~I0ofImage()
{
    delete ui;
}

void I0ofImage::setTitle(const QString &title)
{
    ui->Title->setText(title);
}

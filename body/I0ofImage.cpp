#include "I0ofImage.h"

#include "ui_I0ofImage.h"

I0ofImage::I0ofImage(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::I0ofImage)
{
    ui->setupUi(this);
}

I0ofImage::~I0ofImage()
{
    delete ui;
}

void I0ofImage::setTitle(const QString &title)
{
    ui->Title->setText(title);
}

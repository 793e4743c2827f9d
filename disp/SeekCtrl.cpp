#include "SeekCtrl.h"

#include "ui_SeekCtrl.h"

#include <algorithm>

namespace {
constexpr int kStep = 10;
}

SeekCtrl::SeekCtrl(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::SeekCtrl)
{
    ui->setupUi(this);
    connect(ui->Seek, &QSlider::sliderMoved, this, &SeekCtrl::sliderMoved);
    connect(ui->Index, &QSpinBox::valueChanged, this, &SeekCtrl::indexChanged);
    connect(ui->Inc, &QToolButton::clicked, this, &SeekCtrl::inc);
    connect(ui->Dec, &QToolButton::clicked, this, &SeekCtrl::dec);
}

SeekCtrl::~SeekCtrl()
{
    delete ui;
}

int SeekCtrl::index() const
{
    return ui->Seek->value();
}

int SeekCtrl::maximum() const
{
    return ui->Seek->maximum();
}

void SeekCtrl::setMaximum(int max)
{
    ui->Seek->setMaximum(max);
    ui->Index->setMaximum(max);
}

void SeekCtrl::setIndex(int idx)
{
    const int v = std::clamp(idx, 0, std::max(0, ui->Seek->maximum()));
    ui->Seek->setValue(v);
    ui->Index->setValue(v);
}

void SeekCtrl::sliderMoved(int val)
{
    ui->Index->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::indexChanged(int val)
{
    ui->Seek->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::stepTo(int v)
{
    if (v == ui->Seek->value())
        return;
    ui->Seek->setValue(v);
    ui->Index->setValue(v);
    emit newIndex(v);
}

void SeekCtrl::inc()
{
    const int seek = ui->Seek->value();
    const int max = ui->Seek->maximum();
    // Compared before adding so that a maximum near the int limit cannot overflow.
    stepTo(seek > max - kStep ? max : seek + kStep);
}

void SeekCtrl::dec()
{
    const int seek = ui->Seek->value();
    stepTo(seek < kStep + 1 ? 0 : seek - kStep);
}

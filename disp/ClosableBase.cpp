#include "ClosableBase.h"

#include <QCloseEvent>

ClosableBase::ClosableBase(QWidget *parent)
    : QFrame(parent)
{
}

void ClosableBase::closeEvent(QCloseEvent *event)
{
    QFrame::closeEvent(event);
    emit closed();
}

#include "CtProgress.h"

CtProgress::CtProgress(QObject *parent)
    : QObject(parent)
{
}

void CtProgress::startCalcAll()
{
    emit calcAll();
}

void CtProgress::startCalcOneByOne()
{
    current.store(0);
    emit calcOne(0);
}

void CtProgress::calcNext()
{
    const int next = current.load() + 1;
    current.store(next);
    if (next < total.load())
        emit calcOne(next);
    else
        emit finishedCalcOneByOne();
}

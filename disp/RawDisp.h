#pragma once

#include "disp/ImgDispWPV.h"

class ImgDatas;

// The display of the raw projection images; the main window draws its cursor,
// slice and CoR lines on top and reads values from the stack it points to.
class RawDisp : public ImgDispWPV
{
    Q_OBJECT
public:
    explicit RawDisp(QWidget *parent = nullptr);

    ImgDatas *imgDatas = nullptr;
};

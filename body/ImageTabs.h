#pragma once

class CtCalc;
class ImgDatas;
class RawDisp;
class Sinogram;

namespace Ui {
class Body;
}

// The image tabs of the main window: the raw projections, the sinogram, the CT1
// panel and the I0 and BG images, each in a dock that can leave its tab; "Show
// Img" of the I0 and BG pickers brings their picture's tab to the front.
struct ImageTabs
{
    RawDisp *raw = nullptr;
    Sinogram *sinogram = nullptr;
    CtCalc *ct1 = nullptr;

    // Builds the displays over `stack` and puts each in its tab.
    static ImageTabs build(Ui::Body *form, ImgDatas *stack);
};

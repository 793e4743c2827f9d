#pragma once

#include "disp/DispAWLayout.h"
#include "disp/MouseC.h"

#include <QImage>
#include <QRectF>

class ChCoord;

// Shows a greyscale picture through a visible window `s` in image pixel
// coordinates: the wheel zooms about the mouse, a plain left drag pans, a
// Shift+left drag marks a selection for the owner, and clicks report points.
class ImgDisp : public DispAWLayout
{
    Q_OBJECT
public:
    explicit ImgDisp(QWidget *parent = nullptr);

    MouseC *mouse = nullptr;
    ChCoord *coord = nullptr;
    bool scaleSet = false;
    QRectF s;
    // Owners write the picture here (8-bit greyscale, one pixel per value) and
    // then call newImage().
    QImage image;
    // Image pixels are drawn square (the window is widened to the area's shape);
    // displays whose axes are not lengths (a sinogram's rows are angles) fill the area.
    bool keepAspect = true;
    bool selecting = false;
    bool selectionValid = false;
    double selX = 0.0, selY = 0.0, selW = 0.0, selH = 0.0;

    // How many times the screen copy of the picture was made: zoom and pan
    // reuse it, only a changed picture makes a new one.
    int pictureConversions() const { return conversions; }
    // The image rectangle that the whole drawing area shows: `s` itself, or `s`
    // widened about its centre so that pixels are square.
    QRectF view() const;
    // Whether the left button's last press moved the mouse further than a click's
    // jitter before its release (a pan, not a click).
    bool lastPressDragged() const { return pressDragged; }

signals:
    void newPos(int ix, int iy);
    void newS(QRectF s);
    void selectedAPoint(double x, double y, MouseC::MStat state);

public slots:
    void onWheelMoved();
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void draw(QPainter *p);
    void newImage();
    void resetScale();
    void saveImage(QString fname);

protected:
    void refreshMapping();
    void repaintArea();

private:
    bool pressDragged = false;
    QImage screenPicture;
    qint64 screenPictureKey = 0;
    int conversions = 0;
};

#pragma once

#include "disp/ImgDispWCBar.h"

namespace Ui {
class ImgDispWPV;
}

// A picture with colour bar that also shows the image position under the mouse,
// the data value there, and a "Scale Reset" button.
class ImgDispWPV : public ImgDispWCBar
{
    Q_OBJECT
public:
    explicit ImgDispWPV(QWidget *parent = nullptr);
    ~ImgDispWPV() override;

    QString posXText() const;
    QString posYText() const;
    QString valText() const;

signals:
    void newPosInvY(double x, double y);

public slots:
    void noticedNewPos(int ix, int iy);
    void setVal(double v);

private:
    Ui::ImgDispWPV *pvUi;
};

#pragma once

#include <QLabel>

// The line under a slice display that names the unit of its values: a reconstructed
// slice holds the sum over the projections, which divided by 2P is the attenuation
// per pixel, and with a pixel size known also in 1/cm. Every such line follows the
// one pixel size of the window.
class SliceUnitLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SliceUnitLabel(QWidget *parent = nullptr);
    ~SliceUnitLabel() override;

    // The pixel size in µm for every slice display (0: unknown).
    static void setPixelSize(double micrometres);
    static QString textFor(double micrometres);
};

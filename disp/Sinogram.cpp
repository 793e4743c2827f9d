#include "Sinogram.h"

#include "ct/FftwPlanner.h"
#include "disp/ColorBar.h"
#include "disp/FieldFit.h"
#include "disp/ImgDispWPV.h"
#include "disp/ProcCtrl.h"
#include "ui_Sinogram.h"
#include "util/GreyPicture.h"
#include "util/Numbers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

Sinogram::Sinogram(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::Sinogram)
{
    ui->setupUi(this);
    FieldFit::fit(ui->Cor, FieldFit::numberSample());
    // Rows are projection angles, not lengths: the sinogram fills its area.
    ui->DispSinogram->keepAspect = false;
    ui->DispFouS->keepAspect = false;
    connect(ui->GenImg, &QPushButton::clicked, this, &Sinogram::genImageClicked);
    connect(ui->DispSinogram, &ImgDispWPV::newPosInvY, this, &Sinogram::newPos);
    connect(ui->DispSinogram, &ImgDispWCBar::newBar, this, &Sinogram::genImage);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &Sinogram::corEditingFinished);
}

Sinogram::~Sinogram()
{
    delete ui;
}

ImgDispWPV *Sinogram::sinogramDisplay() const
{
    return ui->DispSinogram;
}

ImgDispWPV *Sinogram::fourierDisplay() const
{
    return ui->DispFouS;
}

void Sinogram::setProcCtrl(ProcCtrl *procCtrl)
{
    for (const auto &c : std::as_const(procConnections))
        disconnect(c);
    procConnections.clear();
    proc = procCtrl;
    if (!proc)
        return;
    procConnections << connect(proc, &ProcCtrl::sliceNoUpdated, this, &Sinogram::sliceNoUpdated)
                    << connect(proc, &ProcCtrl::corUpdated, this, &Sinogram::corUpdated)
                    << connect(proc, &ProcCtrl::rotAxUpdated, this, &Sinogram::rotAxUpdated)
                    << connect(proc, &ProcCtrl::autoUpdateUpdated, this,
                               &Sinogram::autoUpdateUpdated);
}

void Sinogram::genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice)
{
    if (!hSgm)
        return;
    if (!stack) {
        hSgm->resize(0, 0);
        return;
    }
    ::genSinogram0(hSgm, *stack, rotAxIsV, cor, slice);
}

void Sinogram::genSinogram()
{
    if (!proc)
        return;
    genSinogram0(&own, proc->rotAxIsV(), proc->cor(), proc->sliceNo());
    ownFresh = true;
}

// Decides what the pictures are made from. A new usable sinogram replaces the
// kept copy; a new unusable one builds nothing, so the last pictures stay; without
// anything new (a colour-bar change) the kept copy is drawn again.
bool Sinogram::takeOwnSinogram()
{
    if (!ownFresh)
        return !shownRaw.isEmpty();
    ownFresh = false;
    const qint64 samples = qint64(own.width) * own.height;
    const bool usable =
        own.isUsable() && own.raw.size() == size_t(samples) && own.height <= INT_MAX / 2;
    if (!usable)
        return false;
    shownRaw = QVector<double>(own.raw.begin(), own.raw.end());
    shownWidth = own.width;
    shownRows = own.height;
    return true;
}

void Sinogram::genImage()
{
    if (!takeOwnSinogram())
        return;
    const int w = shownWidth;
    const int rows = shownRows;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (double v : std::as_const(shownRaw)) {
        if (!std::isfinite(v))
            continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (lo > hi)
        lo = hi = 0.0;
    minValue = lo;
    maxValue = hi;
    ColorBar *bar = ui->DispSinogram->CBar;
    if (!bar->fixed()) {
        bar->setMin(lo);
        bar->setMax(hi);
    }
    const bool turn = fullTurn();
    QImage picture(w, turn ? rows : 2 * rows, QImage::Format_Grayscale8);
    if (picture.isNull())
        return;
    GreyPicture::paint(&picture, 0, 0, w, rows, bar->greyScale(),
                       [this, w](int r) { return shownRaw.constData() + qsizetype(r) * w; });
    // The lower half is the upper half mirrored left to right: a projection at
    // angle a + 180 degrees sees the same line reversed, which completes the
    // 180-degree scan to a full turn. A 360-degree scan is shown as measured.
    for (int r = 0; r < rows && !turn; ++r)
        std::reverse_copy(picture.constScanLine(r), picture.constScanLine(r) + w,
                          picture.scanLine(rows + r));
    ui->DispSinogram->image = picture;
    ui->DispSinogram->newImage();
    genFouSImage();
}

bool Sinogram::fullTurn() const
{
    return proc && proc->scanRange() == 360;
}

void Sinogram::genFouSImage()
{
    if (!ui->GenFouS->isChecked() || shownRaw.isEmpty())
        return;
    const int w = shownWidth;
    const int rows = shownRows;
    const bool turn = fullTurn();
    const int allRows = turn ? rows : 2 * rows;
    const size_t count = size_t(allRows) * size_t(w);
    FftwBuffer<fftw_complex> in;
    FftwBuffer<fftw_complex> out;
    if (!in.allocate(count) || !out.allocate(count))
        return;
    FftwPlan plan(
        FftwPlanner::planDft2d(allRows, w, in.data(), out.data(), FFTW_FORWARD, FFTW_ESTIMATE));
    if (!plan)
        return;
    const double c = 1.0 / (double(allRows) * w);
    for (int r = 0; r < rows; ++r) {
        const double *row = shownRaw.constData() + qsizetype(r) * w;
        fftw_complex *upper = in.data() + size_t(r) * w;
        fftw_complex *lower = in.data() + size_t(rows + r) * w;
        for (int j = 0; j < w; ++j) {
            upper[j][0] = row[j] * c;
            upper[j][1] = 0.0;
            if (turn)
                continue;
            lower[w - 1 - j][0] = row[j] * c;
            lower[w - 1 - j][1] = 0.0;
        }
    }
    plan.execute();
    ColorBar *bar = ui->DispFouS->CBar;
    if (!bar->fixed()) {
        bar->setMin(-10.0);
        bar->setMax(10.0);
    }
    // Linear and unshifted: the zero frequency is the top-left pixel.
    std::vector<double> magnitude(static_cast<size_t>(w));
    const QImage picture = GreyPicture::of(w, allRows, bar->greyScale(), [&](int r) {
        const fftw_complex *row = out.data() + size_t(r) * w;
        for (int j = 0; j < w; ++j)
            magnitude[size_t(j)] = std::hypot(row[j][0], row[j][1]);
        return magnitude.data();
    });
    if (picture.isNull())
        return;
    ui->DispFouS->image = picture;
    ui->DispFouS->newImage();
}

void Sinogram::newPos(double x, double y)
{
    if (shownRaw.isEmpty())
        return;
    const int column = Numbers::saturateToInt(x);
    const int row = Numbers::saturateToInt(y);
    const bool turn = fullTurn();
    if (column < 0 || column >= shownWidth || row < 0 || row >= (turn ? 1 : 2) * shownRows)
        return;
    // The lower half is mirrored: its column j shows sample W - 1 - j.
    const bool lower = !turn && row >= shownRows;
    const int sample = lower ? shownWidth - 1 - column : column;
    const int sourceRow = lower ? row - shownRows : row;
    ui->DispSinogram->setVal(shownRaw.at(qsizetype(sourceRow) * shownWidth + sample));
}

// With "Auto Update Sinogram" off this is the only way to a sinogram: it is built
// for the current slice, CoR and axis, then both pictures are drawn.
void Sinogram::genImageClicked()
{
    genSinogram();
    genImage();
}

void Sinogram::regenerateWhenAuto()
{
    if (!proc || !proc->autoUpdate())
        return;
    genSinogram();
    genImage();
}

void Sinogram::corUpdated()
{
    if (!proc)
        return;
    ui->Cor->setText(Numbers::text(proc->cor()));
    regenerateWhenAuto();
}

void Sinogram::sliceNoUpdated()
{
    regenerateWhenAuto();
}

void Sinogram::rotAxUpdated()
{
    regenerateWhenAuto();
}

void Sinogram::autoUpdateUpdated()
{
    regenerateWhenAuto();
}

void Sinogram::genSgmImage()
{
    regenerateWhenAuto();
}

void Sinogram::corEditingFinished()
{
    if (proc)
        proc->setCor(Numbers::toFiniteDouble(ui->Cor->text()));
}

void Sinogram::setGenFouS(bool f)
{
    ui->GenFouS->setChecked(f);
}

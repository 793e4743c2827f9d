#include "DispTestUtil.h"

#include "../support/TestSupport.h"
#include "ct/HSgm.h"
#include "disp/ColorBar.h"
#include "disp/ImgDispWPV.h"
#include "disp/ProcCtrl.h"
#include "disp/Sinogram.h"
#include "imgdata/ImgData.h"
#include "imgdata/ImgDatas.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <memory>

class tst_Sinogram : public QObject
{
    Q_OBJECT

private:
    // Puts a W x R sinogram with raw value f(row, sample) into the viewer.
    template<typename F>
    static void fill(Sinogram &viewer, int w, int rows, F f)
    {
        HSgm &sgm = viewer.ownSinogram();
        sgm.resize(w, rows);
        for (int r = 0; r < rows; ++r)
            for (int j = 0; j < w; ++j) {
                sgm.raw[size_t(r) * w + j] = f(r, j);
                sgm.sgm[size_t(r) * w + j] = 0.0;
            }
    }
    static int pixel(const QImage &image, int x, int y) { return image.constScanLine(y)[x]; }
    static QCheckBox *genFouS(Sinogram &viewer) { return viewer.findChild<QCheckBox *>("GenFouS"); }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void formDefaults();
    void lowerHalfIsMirrored();
    void readOutOfTheMirroredHalf();
    void fourierOfAConstant();
    void fourierOnlyWhenAsked();
    void unusableSinogramKeepsPictures();
    void fixedBarKeepsItsRange();
    void measuredScanThroughProcCtrl();
};

void tst_Sinogram::formDefaults()
{
    Sinogram viewer;
    QCOMPARE(viewer.windowTitle(), QString("Sinogram"));
    QCOMPARE(viewer.findChild<QPushButton *>("GenImg")->text(), QString("Gen Image"));
    QCOMPARE(viewer.findChild<QLineEdit *>("Cor")->text(), QString("1000"));
    QCOMPARE(genFouS(viewer)->text(), QString("Gen Fou. Sinogram"));
    QVERIFY(!genFouS(viewer)->isChecked());
    viewer.setGenFouS(true);
    QVERIFY(genFouS(viewer)->isChecked());
    QVERIFY(viewer.findChild<ImgDispWPV *>("DispSinogram"));
    QVERIFY(viewer.findChild<ImgDispWPV *>("DispFouS"));
}

void tst_Sinogram::lowerHalfIsMirrored()
{
    Sinogram viewer;
    const int w = 7, rows = 4;
    fill(viewer, w, rows, [](int r, int j) { return 10.0 * r + j; });
    viewer.genImage();
    const QImage image = viewer.sinogramDisplay()->image;
    QCOMPARE(image.size(), QSize(w, 2 * rows));
    QCOMPARE(image.format(), QImage::Format_Grayscale8);
    ColorBar *bar = viewer.sinogramDisplay()->CBar;
    QCOMPARE(bar->min(), 0.0);
    QCOMPARE(bar->max(), 36.0);
    for (int r = 0; r < rows; ++r)
        for (int j = 0; j < w; ++j) {
            QCOMPARE(pixel(image, j, r), bar->grey(10.0 * r + j));
            QCOMPARE(pixel(image, w - 1 - j, rows + r), pixel(image, j, r));
        }
    QCOMPARE(pixel(image, 0, rows), pixel(image, w - 1, 0));
    QVERIFY(pixel(image, 0, rows) != pixel(image, 0, 0));
}

void tst_Sinogram::readOutOfTheMirroredHalf()
{
    Sinogram viewer;
    const int w = 5, rows = 3;
    fill(viewer, w, rows, [](int r, int j) { return 100.0 * r + j; });
    viewer.genImage();
    ImgDispWPV *disp = viewer.sinogramDisplay();
    viewer.newPos(1.5, 0.2);
    QCOMPARE(disp->valText(), QString("1"));
    // Row 4 is row 1 mirrored: column 1 there shows sample 5 - 1 - 1 = 3.
    viewer.newPos(1.5, 4.9);
    QCOMPARE(disp->valText(), QString("103"));
    viewer.newPos(5.0, 0); // outside: read-out unchanged
    QCOMPARE(disp->valText(), QString("103"));
    viewer.newPos(0, 6.0);
    QCOMPARE(disp->valText(), QString("103"));

    // The same through the mouse over the picture.
    viewer.resize(600, 400);
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QSize area = disp->dispA()->size();
    const QPoint at(int((4 + 0.5) * area.width() / w), int((3 + 0.5) * area.height() / (2 * rows)));
    DispTest::move(disp->dispA(), at);
    QCOMPARE(disp->posXText(), QString("4"));
    QCOMPARE(disp->posYText(), QString("3"));
    QCOMPARE(disp->valText(), QString("0"));
}

void tst_Sinogram::fourierOfAConstant()
{
    Sinogram viewer;
    viewer.setGenFouS(true);
    fill(viewer, 9, 6, [](int, int) { return 5.0; });
    viewer.genImage();
    const QImage image = viewer.fourierDisplay()->image;
    QCOMPARE(image.size(), QSize(9, 12));
    ColorBar *bar = viewer.fourierDisplay()->CBar;
    QCOMPARE(bar->min(), -10.0);
    QCOMPARE(bar->max(), 10.0);
    // Magnitude 5 at the zero frequency (grey 192 on -10..10), 0 elsewhere (grey 128).
    QCOMPARE(pixel(image, 0, 0), 192);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (x || y)
                QCOMPARE(pixel(image, x, y), 128);
}

void tst_Sinogram::fourierOnlyWhenAsked()
{
    Sinogram viewer;
    fill(viewer, 5, 3, [](int r, int j) { return r + j; });
    viewer.genImage();
    QVERIFY(viewer.fourierDisplay()->image.isNull());
    viewer.setGenFouS(true);
    viewer.genImage();
    const QImage first = viewer.fourierDisplay()->image;
    QVERIFY(!first.isNull());
    viewer.setGenFouS(false);
    fill(viewer, 7, 3, [](int r, int j) { return r * j; });
    viewer.genImage();
    QCOMPARE(viewer.fourierDisplay()->image.cacheKey(), first.cacheKey());
    QCOMPARE(viewer.sinogramDisplay()->image.width(), 7);
}

void tst_Sinogram::unusableSinogramKeepsPictures()
{
    Sinogram viewer;
    viewer.setGenFouS(true);
    fill(viewer, 5, 3, [](int r, int j) { return 3.0 * r - j; });
    viewer.genImage();
    const qint64 sinogramKey = viewer.sinogramDisplay()->image.cacheKey();
    const qint64 fourierKey = viewer.fourierDisplay()->image.cacheKey();
    viewer.ownSinogram().resize(0, 0);
    viewer.genImage();
    QCOMPARE(viewer.sinogramDisplay()->image.cacheKey(), sinogramKey);
    QCOMPARE(viewer.fourierDisplay()->image.cacheKey(), fourierKey);
    // Too narrow for a sinogram, or raw samples missing: the same.
    fill(viewer, 2, 3, [](int, int) { return 1.0; });
    viewer.genImage();
    viewer.ownSinogram().raw.clear();
    viewer.genImage();
    QCOMPARE(viewer.sinogramDisplay()->image.cacheKey(), sinogramKey);
    // The read-out still belongs to the pictures on show.
    viewer.newPos(4, 0);
    QCOMPARE(viewer.sinogramDisplay()->valText(), QString("-4"));
    // A colour-bar change redraws the kept sinogram.
    ColorBar *bar = viewer.sinogramDisplay()->CBar;
    bar->setFixColorScale(true);
    bar->panel()->findChild<QLineEdit *>("CMaxLE")->setText("100");
    bar->maxVEdited();
    QVERIFY(viewer.sinogramDisplay()->image.cacheKey() != sinogramKey);
    QCOMPARE(viewer.sinogramDisplay()->image.size(), QSize(5, 6));
    QCOMPARE(pixel(viewer.sinogramDisplay()->image, 0, 2), bar->grey(6.0));
    // Without a stack or controls nothing is generated and nothing breaks.
    viewer.genSinogram();
    HSgm mine;
    mine.resize(5, 5);
    viewer.genSinogram0(&mine, true, 2.5, 0);
    QVERIFY(!mine.isUsable());
}

void tst_Sinogram::fixedBarKeepsItsRange()
{
    Sinogram viewer;
    ColorBar *bar = viewer.sinogramDisplay()->CBar;
    bar->setMin(-1);
    bar->setMax(1);
    bar->setFixColorScale(true);
    fill(viewer, 5, 3, [](int r, int j) { return 50.0 + r + j; });
    viewer.genImage();
    QCOMPARE(bar->min(), -1.0);
    QCOMPARE(bar->max(), 1.0);
    QCOMPARE(viewer.dataMin(), 50.0);
    QCOMPARE(viewer.dataMax(), 56.0);
    QCOMPARE(pixel(viewer.sinogramDisplay()->image, 0, 0), 255);
}

void tst_Sinogram::measuredScanThroughProcCtrl()
{
    const QString root = TestSupport::sharedDataDir();
    if (root.isEmpty())
        QSKIP("measured scans not available");
    const QDir tooth(root + "/tooth");
    ImgDatas stack;
    std::unique_ptr<ImgData> i0(ImgData::newImgData(ImgData::ITEX));
    std::unique_ptr<ImgData> bg(ImgData::newImgData(ImgData::ITEX));
    i0->fileName = tooth.filePath("i0/i0-10000_0eV-00000.img");
    bg->fileName = tooth.filePath("bg/dark-00000.img");
    i0->isOk = i0->open();
    bg->isOk = bg->open();
    QVERIFY(i0->isOk && bg->isOk);
    ImgData *i0Slot = i0.get();
    ImgData *bgSlot = bg.get();
    stack.setI0Slot(&i0Slot);
    stack.setBgSlot(&bgSlot);
    const QStringList files =
        QDir(tooth.filePath("proj")).entryList({"tooth-10000_0eV-*.img"}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 181);
    for (const QString &f : files)
        QVERIFY(stack.addFile(tooth.filePath("proj/" + f)));

    ProcCtrl proc;
    proc.setRotAxIsV(true);
    proc.setSliceNo(1);
    Sinogram viewer;
    viewer.setImgDatas(&stack);
    viewer.setProcCtrl(&proc);
    viewer.setGenFouS(true);
    proc.setCor(295.75); // auto-update is on: the viewer follows
    QCOMPARE(viewer.findChild<QLineEdit *>("Cor")->text(), QString("295.75"));
    const QImage image = viewer.sinogramDisplay()->image;
    QCOMPARE(image.size(), QSize(589, 362));
    QCOMPARE(viewer.fourierDisplay()->image.size(), QSize(589, 362));
    const HSgm &sgm = viewer.ownSinogram();
    QCOMPARE(sgm.slice, 1);
    ColorBar *bar = viewer.sinogramDisplay()->CBar;
    for (int r : {0, 90, 180})
        for (int j : {0, 100, 294, 588}) {
            QCOMPARE(pixel(image, j, r), bar->grey(sgm.rawRow(r)[j]));
            QCOMPARE(pixel(image, 588 - j, 181 + r), pixel(image, j, r));
        }

    // A CoR typed into the viewer goes to the controls; one off the line keeps
    // the pictures of the last usable sinogram.
    const qint64 key = image.cacheKey();
    QLineEdit *cor = viewer.findChild<QLineEdit *>("Cor");
    cor->setText("0.5");
    QTest::keyClick(cor, Qt::Key_Return);
    QCOMPARE(proc.cor(), 0.5);
    QVERIFY(!viewer.ownSinogram().isUsable());
    QCOMPARE(viewer.sinogramDisplay()->image.cacheKey(), key);

    // With auto-update off a slice change does not regenerate.
    proc.setAutoUpdate(false);
    proc.setCor(300);
    QVERIFY(!viewer.ownSinogram().isUsable());
    viewer.genSinogram();
    viewer.genImage();
    QCOMPARE(viewer.sinogramDisplay()->image.width(), 2 * 300 - 1);
}

QTEST_MAIN(tst_Sinogram)
#include "tst_Sinogram.moc"

#include "disp/PopDockBase.h"
#include "disp/ProcCtrl.h"
#include "disp/SeekCtrl.h"
#include "util/Edition.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <climits>
#include <cmath>

class tst_Panels : public QObject
{
    Q_OBJECT

private:
    static void type(QLineEdit *line, const QString &text)
    {
        line->selectAll();
        line->clear();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
    }
    template<typename T>
    static T *child(QWidget *w, const char *name)
    {
        return w->findChild<T *>(name);
    }

private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void formDefaults();
    void typedCorChangeDetection_data();
    void typedCorChangeDetection();
    void sliceAndAxisChanges();
    void settersReportRealChangesOnly();
    void recordedCoRs();
    void runParamsStepSign_data();
    void runParamsStepSign();
    void threadsNeverZero();
    void baseEditionHasNoRecord();
    void seekSteps();
    void popOutAndDockBack();
};

void tst_Panels::formDefaults()
{
    ProcCtrl proc;
    QCOMPARE(proc.windowTitle(), QString("Proc Control"));
    QCOMPARE(proc.cor(), 1000.0);
    QCOMPARE(proc.sliceNo(), 1000);
    QVERIFY(!proc.rotAxIsV());
    QVERIFY(child<QRadioButton>(&proc, "RotAxH")->isChecked());
    QVERIFY(proc.autoUpdate());
    QVERIFY(!proc.autoExec());
    QCOMPARE(proc.from(), 0);
    QCOMPARE(proc.to(), 2047);
    QCOMPARE(proc.step(), 1);
    QCOMPARE(child<QCheckBox>(&proc, "AutoUpdate")->text(), QString("Auto Update Sinogram"));
    QCOMPARE(child<QPushButton>(&proc, "RecCoR")->text(), QString("Record"));
    QVERIFY(child<QLineEdit>(&proc, "RecordedCoR1")->isReadOnly());
    // At least the form's 60 pixels, more where the font needs it for whole numbers.
    QVERIFY(child<QLineEdit>(&proc, "SliceTo")->maximumWidth() >= 60);

    SeekCtrl seek;
    QCOMPARE(seek.maximum(), 0);
    PopDockBase dock;
    QCOMPARE(child<QPushButton>(&dock, "PopDock")->text(), QString("Pop/Dock"));
    QCOMPARE(dock.popWindow()->size(), QSize(500, 500));
    QVERIFY(dock.popWindow()->isHidden());
}

void tst_Panels::typedCorChangeDetection_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("emitted");
    QTest::addColumn<double>("cor");
    QTest::newRow("the same CoR again") << "1000" << 0 << 1000.0;
    QTest::newRow("same value other text") << "1e3" << 0 << 1000.0;
    QTest::newRow("a new CoR") << "999.5" << 1 << 999.5;
    QTest::newRow("not a number reads 0") << "abc" << 1 << 0.0;
    QTest::newRow("nan reads 0") << "nan" << 1 << 0.0;
}

void tst_Panels::typedCorChangeDetection()
{
    QFETCH(QString, typed);
    QFETCH(int, emitted);
    QFETCH(double, cor);
    ProcCtrl proc;
    QSignalSpy corSpy(&proc, &ProcCtrl::corUpdated);
    QLineEdit *line = child<QLineEdit>(&proc, "Cor");
    type(line, typed);
    QCOMPARE(corSpy.count(), emitted);
    QCOMPARE(proc.cor(), cor);
    // Leaving the field again with the same text settles.
    QTest::keyClick(line, Qt::Key_Return);
    QCOMPARE(corSpy.count(), emitted);
}

void tst_Panels::sliceAndAxisChanges()
{
    ProcCtrl proc;
    proc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&proc));
    QSignalSpy slice(&proc, &ProcCtrl::sliceNoUpdated);
    QSignalSpy axis(&proc, &ProcCtrl::rotAxUpdated);
    QSignalSpy autoUpdate(&proc, &ProcCtrl::autoUpdateUpdated);
    QSignalSpy autoExec(&proc, &ProcCtrl::autoExecUpdated);
    type(child<QLineEdit>(&proc, "SliceNo"), "1000");
    QCOMPARE(slice.count(), 0);
    type(child<QLineEdit>(&proc, "SliceNo"), "12");
    QCOMPARE(slice.count(), 1);
    QCOMPARE(proc.sliceNo(), 12);
    type(child<QLineEdit>(&proc, "SliceNo"), "12.5");
    QCOMPARE(proc.sliceNo(), 0);
    QCOMPARE(slice.count(), 2);

    QTest::mouseClick(child<QRadioButton>(&proc, "RotAxV"), Qt::LeftButton);
    QCOMPARE(axis.count(), 1);
    QVERIFY(proc.rotAxIsV());
    QTest::mouseClick(child<QRadioButton>(&proc, "RotAxV"), Qt::LeftButton);
    QCOMPARE(axis.count(), 1);
    proc.setRotAxIsV(false);
    QCOMPARE(axis.count(), 2);
    QVERIFY(child<QRadioButton>(&proc, "RotAxH")->isChecked());
    proc.setRotAxIsV(false);
    QCOMPARE(axis.count(), 2);

    QTest::mouseClick(child<QCheckBox>(&proc, "AutoUpdate"), Qt::LeftButton);
    QCOMPARE(autoUpdate.count(), 1);
    QVERIFY(!proc.autoUpdate());
    proc.setAutoExec(true);
    QCOMPARE(autoExec.count(), 1);
    QVERIFY(proc.autoExec());
}

void tst_Panels::settersReportRealChangesOnly()
{
    ProcCtrl proc;
    QSignalSpy corSpy(&proc, &ProcCtrl::corUpdated);
    QSignalSpy slice(&proc, &ProcCtrl::sliceNoUpdated);
    proc.setCor(1000);
    QCOMPARE(corSpy.count(), 0);
    proc.setCor(295.75);
    QCOMPARE(corSpy.count(), 1);
    QCOMPARE(child<QLineEdit>(&proc, "Cor")->text(), QString("295.75"));
    proc.setCor(std::nan(""));
    proc.setCor(std::nan(""));
    QCOMPARE(corSpy.count(), 2);
    QCOMPARE(proc.cor(), 0.0);
    proc.setSliceNo(1000);
    QCOMPARE(slice.count(), 0);
    proc.setSliceNo(-3);
    QCOMPARE(slice.count(), 1);
    QCOMPARE(child<QLineEdit>(&proc, "SliceNo")->text(), QString("-3"));
    proc.setSliceFrom(5);
    proc.setSliceTo(50);
    proc.setSliceStep(3);
    QCOMPARE(proc.from(), 5);
    QCOMPARE(proc.to(), 50);
    QCOMPARE(proc.step(), 3);
}

void tst_Panels::recordedCoRs()
{
    ProcCtrl proc;
    proc.setSliceNo(500);
    QPushButton *record = child<QPushButton>(&proc, "RecCoR");
    QTest::mouseClick(record, Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(&proc, "RecordedCoR1")->text(), QString("1000 at 500"));
    QCOMPARE(child<QLineEdit>(&proc, "RecordedCoR2")->text(), QString());
    proc.setCor(999.5);
    proc.setSliceNo(600);
    QTest::mouseClick(record, Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(&proc, "RecordedCoR1")->text(), QString("999.5 at 600"));
    QCOMPARE(child<QLineEdit>(&proc, "RecordedCoR2")->text(), QString("1000 at 500"));
}

void tst_Panels::runParamsStepSign_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("expected");
    QTest::newRow("downwards") << "100"
                               << "10"
                               << "5" << -5;
    QTest::newRow("upwards with a negative step") << "10"
                                                  << "100"
                                                  << "-5" << 5;
    QTest::newRow("equal bounds") << "7"
                                  << "7"
                                  << "-2" << 2;
    QTest::newRow("step not a number") << "0"
                                       << "10"
                                       << "x" << 0;
    QTest::newRow("most negative int step") << "10"
                                            << "0"
                                            << "-2147483648" << -INT_MAX;
}

void tst_Panels::runParamsStepSign()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, step);
    QFETCH(int, expected);
    ProcCtrl proc;
    child<QLineEdit>(&proc, "SliceFrom")->setText(from);
    child<QLineEdit>(&proc, "SliceTo")->setText(to);
    child<QLineEdit>(&proc, "SliceStep")->setText(step);
    proc.setThreads(4);
    proc.setCor(321.5);
    const CtRunParams params = proc.runParams(false, true);
    QCOMPARE(params.sliceStep, expected);
    QCOMPARE(params.sliceFrom, from.toInt());
    QVERIFY(!params.calcCt1);
    QVERIFY(params.calcCt2);
    QCOMPARE(params.cor, 321.5);
    QCOMPARE(params.slice, 1000);
    QCOMPARE(params.threads, 4);
    QVERIFY(!params.rotAxIsV);
}

void tst_Panels::threadsNeverZero()
{
    ProcCtrl proc;
    QSpinBox *threads = child<QSpinBox>(&proc, "Threads");
    proc.setThreadsMaximum(32);
    proc.setThreads(32);
    QCOMPARE(proc.threads(), 32);
    proc.setThreads(0);
    QCOMPARE(proc.threads(), 1);
    threads->setFocus();
    threads->selectAll();
    QTest::keyClicks(threads, "0");
    QTest::keyClick(threads, Qt::Key_Return);
    QVERIFY(proc.threads() >= 1);
    QCOMPARE(threads->minimum(), 1);
}

void tst_Panels::baseEditionHasNoRecord()
{
    const bool was = Edition::isBase();
    Edition::setBase(true);
    ProcCtrl base;
    Edition::setBase(false);
    ProcCtrl full;
    Edition::setBase(was);
    for (const char *name : {"RecCoR", "RecordedCoR1", "RecordedCoR2"}) {
        QVERIFY2(base.findChild<QWidget *>(name)->isHidden(), name);
        QVERIFY2(!full.findChild<QWidget *>(name)->isHidden(), name);
    }
}

void tst_Panels::seekSteps()
{
    SeekCtrl seek;
    seek.setMaximum(100);
    QSignalSpy idx(&seek, &SeekCtrl::newIndex);
    seek.setIndex(95);
    idx.clear();
    QToolButton *inc = child<QToolButton>(&seek, "Inc");
    QToolButton *dec = child<QToolButton>(&seek, "Dec");
    QTest::mouseClick(inc, Qt::LeftButton);
    QCOMPARE(seek.index(), 100);
    QCOMPARE(child<QSpinBox>(&seek, "Index")->value(), 100);
    // Once through the spin box's change, once directly.
    QCOMPARE(idx.count(), 2);
    QCOMPARE(idx.at(1).at(0).toInt(), 100);
    QTest::mouseClick(inc, Qt::LeftButton);
    QCOMPARE(idx.count(), 2);

    seek.setIndex(7);
    idx.clear();
    QTest::mouseClick(dec, Qt::LeftButton);
    QCOMPARE(seek.index(), 0);
    QCOMPARE(idx.count(), 2);
    QTest::mouseClick(dec, Qt::LeftButton);
    QCOMPARE(idx.count(), 2);
    seek.setIndex(50);
    QTest::mouseClick(dec, Qt::LeftButton);
    QCOMPARE(seek.index(), 40);

    idx.clear();
    child<QSpinBox>(&seek, "Index")->setValue(33);
    QCOMPARE(idx.count(), 1);
    QCOMPARE(child<QSlider>(&seek, "Seek")->value(), 33);
    idx.clear();
    seek.sliderMoved(12);
    QCOMPARE(child<QSpinBox>(&seek, "Index")->value(), 12);
    QCOMPARE(idx.count(), 2);

    seek.setIndex(-3);
    QCOMPARE(seek.index(), 0);
    seek.setIndex(1000);
    QCOMPARE(seek.index(), 100);
}

void tst_Panels::popOutAndDockBack()
{
    PopDockBase dock;
    dock.setPopTitle("Check Sinogram");
    auto *content = new QLabel("content");
    dock.setContent(content);
    dock.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dock));
    QCOMPARE(content->parentWidget(), &dock);
    QPushButton *button = child<QPushButton>(&dock, "PopDock");

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(dock.popWindow()->isVisible());
    QCOMPARE(content->parentWidget(), dock.popWindow());
    QVERIFY(content->isVisible());
    QCOMPARE(dock.popWindow()->windowTitle(), QString("Check Sinogram"));

    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!dock.popWindow()->isVisible());
    QCOMPARE(content->parentWidget(), &dock);
    QVERIFY(content->isVisible());

    // Closing the popped-out window puts the content back into the dock.
    QTest::mouseClick(button, Qt::LeftButton);
    QSignalSpy closed(&dock, &PopDockBase::closed);
    dock.popWindow()->close();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(content->parentWidget(), &dock);
    QVERIFY(!dock.popWindow()->isVisible());

    dock.moveToPopBase();
    QCOMPARE(content->parentWidget(), dock.popWindow());
    QVERIFY(!dock.popWindow()->isVisible());
    dock.moveToDockBase();
    QCOMPARE(content->parentWidget(), &dock);
}

QTEST_MAIN(tst_Panels)
#include "tst_Panels.moc"

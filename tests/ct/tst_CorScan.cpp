#include "ct/CorScan.h"
#include "ct/ResultLayout.h"

#include <QtTest>

// The centres a CoR scan visits and the names its results get.
class tst_CorScan : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void fileNames_data();
    void fileNames();
};

void tst_CorScan::plan_data()
{
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("last");
    // A line of 100 samples: centres 2 ... 97 leave a sinogram.
    QTest::newRow("quarter steps, end included") << 40.0 << 41.0 << 0.25 << 5 << 41.0;
    QTest::newRow("tenths reach their end despite rounding") << 40.0 << 41.0 << 0.1 << 11 << 41.0;
    QTest::newRow("end not on a step") << 40.0 << 41.0 << 0.3 << 4 << 40.9;
    QTest::newRow("one value") << 50.0 << 50.0 << 1.0 << 1 << 50.0;
    QTest::newRow("201 values") << 20.0 << 70.0 << 0.25 << 201 << 70.0;
    QTest::newRow("202 values") << 20.0 << 70.25 << 0.25 << 0 << 0.0;
    QTest::newRow("FROM above TO") << 41.0 << 40.0 << 0.25 << 0 << 0.0;
    QTest::newRow("STEP 0") << 40.0 << 41.0 << 0.0 << 0 << 0.0;
    QTest::newRow("STEP not a number") << 40.0 << 41.0 << std::nan("") << 0 << 0.0;
    QTest::newRow("a centre at the line's end") << 90.0 << 98.0 << 1.0 << 0 << 0.0;
    QTest::newRow("a centre below 2") << 1.5 << 3.0 << 0.5 << 0 << 0.0;
}

void tst_CorScan::plan()
{
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, step);
    QFETCH(int, count);
    QFETCH(double, last);
    const CorScan::Plan p = CorScan::plan(from, to, step, 100);
    QCOMPARE(p.values.size(), count);
    QCOMPARE(p.problem.isEmpty(), count > 0);
    if (count > 0)
        QVERIFY(std::abs(p.values.last() - last) < 1e-9);
}

void tst_CorScan::fileNames_data()
{
    QTest::addColumn<double>("cor");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("quarter") << 131.25 << "ct-cor131.25-00012.dat";
    QTest::newRow("whole") << 131.0 << "ct-cor131-00012.dat";
    QTest::newRow("rounded tenth") << 40.0 + 3 * 0.1 << "ct-cor40.3-00012.dat";
    QTest::newRow("six digits") << 1023.456789 << "ct-cor1023.46-00012.dat";
}

void tst_CorScan::fileNames()
{
    QFETCH(double, cor);
    QFETCH(QString, fileName);
    QCOMPARE(ResultLayout::fileName("ct", CorScan::tagOf(cor), sliceNumberText(12), "dat"),
             fileName);
}

QTEST_GUILESS_MAIN(tst_CorScan)
#include "tst_CorScan.moc"

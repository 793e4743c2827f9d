#include "run/SetSequence.h"

#include <QtTest>

// The I0 chosen for a set by nearest energy, and when it lies too far from the set.
class tst_SetSequence : public QObject
{
    Q_OBJECT

private slots:
    void choosesI0AndJudgesItsDistance_data();
    void choosesI0AndJudgesItsDistance();
};

void tst_SetSequence::choosesI0AndJudgesItsDistance_data()
{
    QTest::addColumn<QStringList>("i0Files");
    QTest::addColumn<double>("setEnergy");
    QTest::addColumn<double>("maxGap");
    QTest::addColumn<double>("i0Energy");
    QTest::addColumn<bool>("far");
    QTest::addColumn<bool>("beyondLimit");
    // Sets every 2 eV from 7100 to 7120; the I0 files as named.
    const QStringList all{"i0/i0-7100_0eV-00000.img", "i0/i0-7110_0eV-00000.img",
                          "i0/i0-7120_0eV-00000.img"};
    const QStringList gap{"i0/i0-7100_0eV-00000.img", "i0/i0-7120_0eV-00000.img"};
    QTest::newRow("I0 of the set's energy") << all << 7110.0 << 0.0 << 7110.0 << false << false;
    QTest::newRow("within half a step") << all << 7111.0 << 0.0 << 7110.0 << false << false;
    QTest::newRow("I0 missing: 10 eV away") << gap << 7110.0 << 0.0 << 7100.0 << true << false;
    QTest::newRow("limit above the gap") << gap << 7108.0 << 10.0 << 7100.0 << true << false;
    QTest::newRow("limit below the gap") << gap << 7108.0 << 5.0 << 7100.0 << true << true;
    QTest::newRow("keV names") << QStringList{"i0-7_1keV-1.img", "i0-7_12keV-1.img"} << 7119.5
                               << 0.0 << 7120.0 << false << false;
}

void tst_SetSequence::choosesI0AndJudgesItsDistance()
{
    QFETCH(QStringList, i0Files);
    QFETCH(double, setEnergy);
    QFETCH(double, maxGap);
    QFETCH(double, i0Energy);
    QFETCH(bool, far);
    QFETCH(bool, beyondLimit);
    QList<double> sets;
    for (int i = 0; i <= 10; ++i)
        sets << 7100.0 + 2.0 * i;
    SetSequence sequence;
    sequence.setI0Files(i0Files);
    const SetSequence::I0Choice c = sequence.chooseI0(setEnergy, sets, maxGap);
    QCOMPARE(c.energy, i0Energy);
    QCOMPARE(c.far, far);
    QCOMPARE(c.beyondLimit, beyondLimit);
}

QTEST_GUILESS_MAIN(tst_SetSequence)
#include "tst_SetSequence.moc"

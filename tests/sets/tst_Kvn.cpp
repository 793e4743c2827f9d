#include "select/CtFileSet.h"
#include "sets/Kvn.h"

#include <QtTest>

class TstKvn : public QObject
{
    Q_OBJECT

private slots:
    void fileNameFields_data();
    void fileNameFields();
    void energyText_data();
    void energyText();
    void fileSet();
};

void TstKvn::fileNameFields_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("energyText");

    QTest::newRow("standard") << "demo-7112_0eV-00012.img"
                              << "demo-7112_0eV"
                              << "demo"
                              << "7112_0eV";
    QTest::newRow("hyphen in the sample") << "Fe-foil-7_112keV-00001.img"
                                          << "Fe-foil-7_112keV"
                                          << "Fe-foil"
                                          << "7_112keV";
    QTest::newRow("no hyphen") << "dark.img"
                               << "dark.img"
                               << "dark.img"
                               << "dark.img";
    QTest::newRow("one hyphen") << "dark-00000.img"
                                << "dark"
                                << "dark"
                                << "dark";
    QTest::newRow("trailing hyphen") << "s-7112eV-"
                                     << "s-7112eV"
                                     << "s"
                                     << "7112eV";
    QTest::newRow("empty fields") << "--"
                                  << "-"
                                  << ""
                                  << "";
    QTest::newRow("empty name") << ""
                                << ""
                                << ""
                                << "";
    QTest::newRow("hyphens in the last field stay out") << "a-b-c-d"
                                                        << "a-b-c"
                                                        << "a-b"
                                                        << "c";
}

void TstKvn::fileNameFields()
{
    QFETCH(QString, fileName);
    QFETCH(QString, stem);
    QFETCH(QString, sample);
    QFETCH(QString, energyText);
    QCOMPARE(stemOf(fileName), stem);
    QCOMPARE(sampleOf(fileName), sample);
    QCOMPARE(energyTextOf(fileName), energyText);
}

void TstKvn::energyText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("energy");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("factor");

    QTest::newRow("eV with underscore point") << "7112_0eV" << 7112.0 << "eV" << 1.0;
    QTest::newRow("keV") << "7_112keV" << 7.112 << "keV" << 1000.0;
    QTest::newRow("KEV any case") << "7_5KeV" << 7.5 << "KeV" << 1000.0;
    QTest::newRow("no decimal part") << "8333eV" << 8333.0 << "eV" << 1.0;
    QTest::newRow("no unit") << "7112_5" << 7112.5 << "" << 1.0;
    QTest::newRow("no digit") << "dark" << 0.0 << "dark" << 1.0;
    QTest::newRow("empty") << "" << 0.0 << "" << 1.0;
    QTest::newRow("two points is not a number") << "7_1_2eV" << 0.0 << "eV" << 1.0;
    QTest::newRow("letters before the number") << "E7112eV" << 0.0 << "eV" << 1.0;
    QTest::newRow("digit inside the unit") << "7112e2V" << 711200.0 << "V" << 1.0;
    QTest::newRow("overflow reads as 0") << "1e999keV" << 0.0 << "keV" << 1000.0;
    QTest::newRow("unit with blank is not keV") << "7 keV " << 7.0 << " keV " << 1.0;
    QTest::newRow("non-ASCII digit is no digit")
        << QString::fromUtf8("7112\u0663eV") << 7112.0 << QString::fromUtf8("\u0663eV") << 1.0;
}

void TstKvn::energyText()
{
    QFETCH(QString, text);
    QFETCH(double, energy);
    QFETCH(QString, unit);
    QFETCH(double, factor);
    QCOMPARE(energyOf(text), energy);
    QCOMPARE(unitOf(text), unit);
    QCOMPARE(unitFactorOf(text), factor);
}

void TstKvn::fileSet()
{
    CtFileSet set;
    set.setFirstFile(QFileInfo("/data/run/Fe-7_112keV-00000.img"));
    QCOMPARE(set.fileName, QString("Fe-7_112keV-00000.img"));
    QCOMPARE(set.stem, QString("Fe-7_112keV"));
    QCOMPARE(set.sample, QString("Fe"));
    QCOMPARE(set.energyText, QString("7_112keV"));
    QCOMPARE(set.energy * set.unitFactor, 7112.0);
    QCOMPARE(set.unit, QString("keV"));

    QVERIFY(set.belongs(QFileInfo("/elsewhere/Fe-7_112keV-00001.img")));
    QVERIFY(!set.belongs(QFileInfo("/data/run/Fe-7_112keV.img")));
    QVERIFY(!set.belongs(QFileInfo("/data/run/fe-7_112keV-00001.img")));
    set.addFile(QFileInfo("/data/run/Fe-7_112keV-00001.img"));
    QCOMPARE(set.files.size(), 2);

    set.setFirstFile(QFileInfo("/data/run/dark.img"));
    QCOMPARE(set.files.size(), 1);
    QCOMPARE(set.stem, QString("dark.img"));
    QCOMPARE(set.energy, 0.0);
    QCOMPARE(set.unit, QString("dark.img"));
}

QTEST_GUILESS_MAIN(TstKvn)
#include "tst_Kvn.moc"

#include "SeqRunFixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// A typo or a value out of range is named, by `orvo2 -check` before a run and by the
// run itself, instead of leaving a setting as it was.
class TestScriptCheck : public QObject
{
    Q_OBJECT
private slots:
    void checkNamesEachProblem_data();
    void checkNamesEachProblem();
    void aRunWithATypoRefusesItAndExitsTwo();
    void aDirectoryWithoutSetsSaysWhy();

private:
    QTemporaryDir dir;
};

namespace {

QString writeScript(const QTemporaryDir &dir, const QString &text)
{
    const QString path = dir.filePath(QStringLiteral("script.bat"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
    return path;
}

} // namespace

void TestScriptCheck::checkNamesEachProblem_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("problems");
    const auto range = [](int line, const QString &what, const QString &allowed) {
        return QStringLiteral("line %1: Value out of range : %2 (allowed: %3)")
            .arg(line)
            .arg(what, allowed);
    };
    QTest::newRow("misspelt word, comments and blank lines counted")
        << "# set up\n\nct_filter_paded 1 # padded\n"
        << QStringList{"line 3: Unknown batch command : ct_filter_paded"};
    QTest::newRow("labels of the script are no typos")
        << "Loop\nseq_exec_next\n:ifok :goto Loop\nNotALabel\n:ifng bogus 1\n"
        << QStringList{"line 4: Unknown batch command : NotALabel",
                       "line 5: Unknown batch command : bogus"};
    QTest::newRow("configuration keys belong to the configuration file")
        << "DataRoot /data\n"
        << QStringList{"line 1: Unknown batch command : DataRoot"};
    QTest::newRow("words in any case, numbers within range")
        << "CT_THREADS 32\nct_ring_removal 0\nct_cor -4.5\nxafs_nnorm\nct_cor_auto 10 90\n"
           "xafs_min_jump 5%\n"
        << QStringList{};
    QTest::newRow("argument counts")
        << "ct_threads 4 5\nct_cor_auto 10\nimages_load dir\n"
        << QStringList{"line 1: ct_threads takes 1 argument, not 2",
                       "line 2: ct_cor_auto takes 0 or 2 arguments, not 1",
                       "line 3: images_load takes at least 2 arguments, not 1"};
    QTest::newRow("ranges")
        << "ct_ring_removal -3\nct_threads 33\nct_slice_step 0\nimages_exp_time 0\n"
           "xafs_min_jump -0.1\nct_cor abc\nseq_exec_cor_auto 3\nxafs_cluster 1\n"
           "ct_ring_removal 2.5\nxafs_min_jump 120%\n"
        << QStringList{range(1, "ct_ring_removal -3", "a whole number >= 0"),
                       range(2, "ct_threads 33", "a whole number 1 to 32"),
                       range(3, "ct_slice_step 0", "a whole number not 0"),
                       range(4, "images_exp_time 0", "> 0"),
                       range(5, "xafs_min_jump -0.1", ">= 0, or 0% to 100%"),
                       range(6, "ct_cor abc", "a number"),
                       range(7, "seq_exec_cor_auto 3", "a whole number 0 to 2"),
                       range(8, "xafs_cluster 1", "a whole number 2 to 16"),
                       range(9, "ct_ring_removal 2.5", "a whole number >= 0"),
                       range(10, "xafs_min_jump 120%", ">= 0, or 0% to 100%")};
}

void TestScriptCheck::checkNamesEachProblem()
{
    QFETCH(QString, script);
    QFETCH(QStringList, problems);
    const QString path = writeScript(dir, script);
    const SeqRunFixture::Run run = SeqRunFixture::runProgram(
        QStringLiteral(ORVO2_EXE), {QStringLiteral("-check"), path}, dir.path());
    QStringList listed = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : listed)
        line.remove(path + QStringLiteral(": "));
    if (problems.isEmpty())
        QCOMPARE(listed.size(), 1); // the line saying there is none
    else
        QCOMPARE(listed, problems);
    QCOMPARE(run.status, problems.isEmpty() ? 0 : 2);
}

void TestScriptCheck::aRunWithATypoRefusesItAndExitsTwo()
{
    const QString path = writeScript(dir, QStringLiteral("ct_ring_removal 5\n"
                                                         "ct_ring_removal -3\n"
                                                         ":ifng :echo refused\n"
                                                         "ct_filter_paded 1\n"
                                                         ":ifng :echo unknown\n"));
    const SeqRunFixture::Run run =
        SeqRunFixture::runProgram(QStringLiteral(ORVO2_EXE),
                                  {QStringLiteral("-nw"), QStringLiteral("-e"),
                                   QStringLiteral("-b"), path, QStringLiteral("-x")},
                                  dir.path());
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("Value out of range : ct_ring_removal -3 (allowed: a whole number "
                              ">= 0), the old value is kept"),
             qPrintable(run.err));
    QVERIFY(run.err.contains(":echo refused"));
    QVERIFY(run.err.contains("Unknown batch command : ct_filter_paded"));
    QVERIFY(run.err.contains(":echo unknown"));
    QVERIFY(run.err.contains("failures 0, skipped projection files 0, unknown commands 1"));
}

void TestScriptCheck::aDirectoryWithoutSetsSaysWhy()
{
    // One sub-directory per energy, read as sets of files in one directory.
    const QDir top(dir.filePath(QStringLiteral("scan")));
    for (const char *energy : {"7100", "7110"}) {
        QVERIFY(top.mkpath(QLatin1String(energy)));
        QFile image(top.filePath(QLatin1String(energy) + QStringLiteral("/p-00000.img")));
        QVERIFY(image.open(QIODevice::WriteOnly));
    }
    const QString path = writeScript(dir, QStringLiteral("seq_exec_dir \"%1\"\n").arg(top.path()));
    const SeqRunFixture::Run run =
        SeqRunFixture::runProgram(QStringLiteral(ORVO2_EXE),
                                  {QStringLiteral("-nw"), QStringLiteral("-e"),
                                   QStringLiteral("-b"), path, QStringLiteral("-x")},
                                  dir.path());
    QVERIFY2(run.err.contains(QStringLiteral("no set found in %1 with the file pattern *.img; it "
                                             "holds 2 sub-directories with images: for one "
                                             "sub-directory per energy use add_inf_show 0")
                                  .arg(top.path())),
             qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestScriptCheck)
#include "tst_ScriptCheck.moc"

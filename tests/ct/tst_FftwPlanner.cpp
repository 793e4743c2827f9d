#include "ct/CtFbp.h"
#include "ct/FftwPlanner.h"

#include <QtTest>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

class tst_FftwPlanner : public QObject
{
    Q_OBJECT

private slots:
    void planAndExecute_data();
    void planAndExecute();
    void planningFromManyThreads();
};

void tst_FftwPlanner::planAndExecute_data()
{
    QTest::addColumn<int>("n");
    QTest::newRow("length 1") << 1;
    QTest::newRow("length 58") << 58;
    QTest::newRow("length 1000") << 1000;
}

void tst_FftwPlanner::planAndExecute()
{
    QFETCH(int, n);
    FftwBuffer<fftw_complex> in{size_t(n)};
    FftwBuffer<fftw_complex> out{size_t(n)};
    FftwPlan plan(FftwPlanner::planDft1d(n, in.data(), out.data(), FFTW_FORWARD, FFTW_ESTIMATE));
    QVERIFY(plan);
    for (int k = 0; k < n; ++k) {
        in[k][0] = 1.0;
        in[k][1] = 0.0;
    }
    plan.execute();
    QCOMPARE(out[0][0], double(n));
    for (int k = 1; k < n; ++k)
        QVERIFY(std::fabs(out[k][0]) < 1e-9 && std::fabs(out[k][1]) < 1e-9);
    QVERIFY(!FftwPlanner::planDft1d(0, in.data(), out.data(), FFTW_FORWARD, FFTW_ESTIMATE));
}

void tst_FftwPlanner::planningFromManyThreads()
{
    // Engines set up their cores on their own threads; the planner lock keeps
    // FFTW's planner state intact and every core computes the same result.
    const int threads = 4;
    std::vector<double> row(65);
    for (size_t k = 0; k < row.size(); ++k)
        row[k] = std::sin(0.3 * double(k)) + 0.01 * double(k);
    std::atomic<int> failures{0};
    std::vector<std::vector<double>> filtered(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                CtFbp fbp;
                const int n = 16 + 2 * ((round + t) % 8);
                if (!fbp.setup(n, 1) || !fbp.setup(64, 1)) {
                    ++failures;
                    continue;
                }
                fbp.fftRow(row.data(), 0);
                fbp.filterRow(0);
                filtered[t].assign(fbp.filteredRow(0), fbp.filteredRow(0) + 64);
            }
        });
    for (std::thread &th : pool)
        th.join();
    QCOMPARE(failures.load(), 0);
    for (int t = 1; t < threads; ++t)
        QCOMPARE(filtered[t], filtered[0]);
}

QTEST_GUILESS_MAIN(tst_FftwPlanner)
#include "tst_FftwPlanner.moc"

#include "SeqRunFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace SeqRunFixture;

namespace {

// A port nobody listens on now, for one of the daemons.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// A single-node SLURM with its own MUNGE, all in one folder: configuration,
// key, sockets, state, spool and logs. The daemons run in the foreground as
// children of the test and are stopped by their process ids.
class SingleNodeSlurm
{
public:
    explicit SingleNodeSlurm(const QString &root)
        : root(root)
    {
    }
    ~SingleNodeSlurm() { stop(); }

    // Empty when the cluster is up, otherwise what went wrong.
    QString start()
    {
        for (const char *exe :
             {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "sinfo", "scancel"})
            if (findExe(exe).isEmpty())
                return QStringLiteral("%1 is not installed").arg(exe);
        for (const char *sub : {"munge", "run", "state", "spool", "log"})
            QDir(root).mkpath(sub);
        // MUNGE insists on a private key and a socket folder everybody can enter.
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther);
        QFile::setPermissions(path("run"), QFile::permissions(root));
        QFile::setPermissions(path("munge"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QByteArray key(1024, 0);
        for (char &c : key)
            c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        if (!writeFile(path("munge/munge.key"), key))
            return QStringLiteral("can not write the MUNGE key");
        QFile::setPermissions(path("munge/munge.key"), QFile::ReadOwner | QFile::WriteOwner);

        if (!writeFile(confFile(), slurmConf()))
            return QStringLiteral("can not write slurm.conf");
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SLURM_CONF"), confFile());

        launch(findExe("munged"),
               {"--foreground", "--socket=" + path("run/munge.sock"),
                "--key-file=" + path("munge/munge.key"), "--log-file=" + path("log/munged.log"),
                "--pid-file=" + path("munge/munged.pid"), "--seed-file=" + path("munge/seed")},
               "munged");
        if (!waitFor([this] { return QFile::exists(path("run/munge.sock")); }))
            return QStringLiteral("munged did not start: ") + logTail("munged");
        launch(findExe("slurmctld"), {"-D", "-f", confFile()}, "slurmctld");
        launch(findExe("slurmd"), {"-D", "-N", nodeName(), "-f", confFile()}, "slurmd");
        const bool idle = waitFor([this] {
            const Run r = runProgram(findExe("sinfo"), {"-h", "-o", "%T"}, root, env, 5000);
            return r.status == 0 && r.out.trimmed() == QLatin1String("idle");
        });
        if (!idle)
            return QStringLiteral("the node did not become idle:\n") + logTail("slurmctld") +
                   logTail("slurmd");
        return QString();
    }

    void stop()
    {
        cancelJobs();
        // The node first, the controller next, MUNGE last: each may still talk to
        // the ones after it while it ends.
        while (!daemons.empty()) {
            std::unique_ptr<QProcess> &p = daemons.back();
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(15000)) {
                    p->kill();
                    p->waitForFinished(5000);
                }
            }
            daemons.pop_back();
        }
    }

    // Jobs still running (a test that failed half way) are cancelled while the
    // daemons still run: stopping slurmd alone leaves their step daemons and
    // programs behind. The controller is the test's own, so every job is ours.
    void cancelJobs()
    {
        if (daemons.size() < 3)
            return;
        auto jobs = [this] {
            const Run r = runProgram(findExe("squeue"), {"-h", "-o", "%i"}, root, env, 5000);
            return r.out.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        const QStringList ids = jobs();
        if (ids.isEmpty())
            return;
        runProgram(findExe("scancel"), QStringList{"--full"} + ids, root, env, 10000);
        waitFor([&jobs] { return jobs().isEmpty(); });
    }

    QProcessEnvironment environment() const { return env; }
    QString path(const QString &rel) const { return root + QLatin1Char('/') + rel; }

private:
    static QString findExe(const char *name)
    {
        return QStandardPaths::findExecutable(QString::fromLatin1(name),
                                              {"/usr/sbin", "/usr/bin", "/sbin", "/bin"});
    }

    static QString nodeName()
    {
        return QSysInfo::machineHostName().section(QLatin1Char('.'), 0, 0);
    }

    QString confFile() const { return path("slurm.conf"); }

    QByteArray slurmConf() const
    {
        const QString node = nodeName();
        const int cpus = std::max(1, QThread::idealThreadCount());
        QString conf;
        conf += "ClusterName=orvo2test\n";
        conf += QStringLiteral("SlurmctldHost=%1(127.0.0.1)\n").arg(node);
        conf += QStringLiteral("SlurmctldPort=%1\n").arg(freePort());
        conf += QStringLiteral("SlurmdPort=%1\n").arg(freePort());
        conf += "SlurmUser=root\nSlurmdUser=root\n";
        conf += "AuthType=auth/munge\nCredType=cred/munge\n";
        conf += QStringLiteral("AuthInfo=socket=%1\n").arg(path("run/munge.sock"));
        conf += QStringLiteral("StateSaveLocation=%1\n").arg(path("state"));
        conf += QStringLiteral("SlurmdSpoolDir=%1\n").arg(path("spool"));
        conf += QStringLiteral("SlurmctldPidFile=%1\n").arg(path("slurmctld.pid"));
        conf += QStringLiteral("SlurmdPidFile=%1\n").arg(path("slurmd.pid"));
        conf += QStringLiteral("SlurmctldLogFile=%1\n").arg(path("log/slurmctld.log"));
        conf += QStringLiteral("SlurmdLogFile=%1\n").arg(path("log/slurmd.log"));
        // No cgroups: processes are tracked through /proc and tasks are not bound.
        conf += "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n";
        conf += "JobAcctGatherType=jobacct_gather/none\n";
        conf += "AccountingStorageType=accounting_storage/none\nJobCompType=jobcomp/none\n";
        conf += "SchedulerType=sched/builtin\n";
        conf += "SelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\n";
        conf += "MpiDefault=none\nReturnToService=2\n";
        conf += QStringLiteral("NodeName=%1 NodeAddr=127.0.0.1 CPUs=%2 State=UNKNOWN\n")
                    .arg(node)
                    .arg(cpus);
        conf += QStringLiteral("PartitionName=test Nodes=%1 Default=YES MaxTime=INFINITE "
                               "State=UP\n")
                    .arg(node);
        return conf.toUtf8();
    }

    void launch(const QString &exe, const QStringList &args, const QString &name)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setStandardOutputFile(path("log/" + name + ".out"));
        p->setStandardErrorFile(path("log/" + name + ".out"));
        // Should the test die before it stops them (an abort, its watchdog), the
        // daemons end with it.
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        p->start(exe, args);
        p->waitForStarted(5000);
        daemons.push_back(std::move(p));
    }

    QString logTail(const QString &name) const
    {
        const QByteArray text = readFile(path("log/" + name + ".out"));
        return QString::fromUtf8(text.right(2000));
    }

    template<typename Ready>
    static bool waitFor(Ready ready)
    {
        for (int i = 0; i < 150; ++i) {
            if (ready())
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    QString root;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> daemons;
};

// Two submissions in one test function stay within QtTest's five-minute watchdog.
constexpr int submitTimeoutMs = 120000;

} // namespace

// The submission script against a real single-node SLURM: an array with one
// task per set gives the results of a local sequential run byte for byte; a
// set that fails is reported with the command that resubmits it, and after
// repairing its files the resubmission completes the results.
class TestSlurm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusesBadRequests_data();
    void refusesBadRequests();
    void arrayEqualsLocalRun();
    void failedSetIsResubmitted();

private:
    Run submit(const QStringList &args, bool withOrvo2Variable = true);
    QString tagOf(int set) const;
    // A copy of the wrapper in <root>/scripts, as a source tree holds it.
    QString wrapperIn(const QString &root);
    QTemporaryDir dir;
    QString wrapper;
    std::unique_ptr<SingleNodeSlurm> slurm;
    DemoSettings settings;
    QString script;
    QString results;
    QString local;
};

void TestSlurm::initTestCase()
{
    QVERIFY(dir.isValid());
    // A source tree whose build/ holds the program, with the wrapper in its scripts/:
    // the submission finds the program there when ORVO2 is not set. A build/orvo2
    // above the batch script that is no such program must not be taken.
    const QString project = dir.filePath("project");
    QVERIFY(QDir().mkpath(project + "/build"));
    // The batch script's folder holds "%x" (the job name to sbatch unless
    // escaped), blanks and a quote: the logs must land where the report says.
    const QString work = project + "/work %x 50% o'clock";
    QVERIFY(QDir().mkpath(work + "/build"));
    QVERIFY(QFile::link(ORVO2_EXE, project + "/build/orvo2"));
    wrapper = wrapperIn(project);
    QVERIFY(!wrapper.isEmpty());
    QVERIFY(writeFile(work + "/build/orvo2", "#!/bin/sh\nexit 7\n"));
    QVERIFY(QFile::setPermissions(work + "/build/orvo2",
                                  QFile::permissions(wrapper) | QFile::ExeOwner));

    settings = smallSettings(work + "/data");
    QVERIFY(DemoGenerator(settings).generate());
    results = work + "/results";
    script = work + "/seq.bat";
    QVERIFY(writeFile(script, sequentialScript(settings, results).toUtf8()));

    // The reference: the same script run locally in one go.
    local = dir.filePath("local");
    const Run r = runProgram(ORVO2_EXE, {"-nw", "-e", "-b", script, "-x"}, work);
    QCOMPARE(r.status, 0);
    QVERIFY(QDir().rename(results, local));
    QCOMPARE(filesUnder(local, {}).size() % settings.energies, 0);
    QVERIFY(filesUnder(local, {}).size() >= 2 * settings.energies * settings.height);

    const bool required = qEnvironmentVariableIntValue("ORVO2_REQUIRE_SLURM") == 1;
    if (::geteuid() != 0) {
        if (required)
            QFAIL("the SLURM test needs root to start its daemons");
        QSKIP("the SLURM test starts slurmctld and slurmd and needs root "
              "(scripts/test.sh runs it as root)");
    }
    // MUNGE wants the folders on the way to its socket open to everybody.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther |
                                          QFile::ReadOther | QFile::ExeGroup | QFile::ReadGroup);
    slurm = std::make_unique<SingleNodeSlurm>(dir.filePath("slurm"));
    const QString problem = slurm->start();
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void TestSlurm::cleanupTestCase()
{
    if (slurm)
        slurm->stop();
}

QString TestSlurm::wrapperIn(const QString &root)
{
    const QString copy = root + "/scripts/orvo2-slurm.sh";
    if (!QDir().mkpath(root + "/scripts") ||
        !QFile::copy(ORVO2_SOURCE_DIR "/scripts/orvo2-slurm.sh", copy))
        return QString();
    return copy;
}

QString TestSlurm::tagOf(int set) const
{
    return DemoGenerator::energyText(DemoGenerator(settings).energyAt(set));
}

Run TestSlurm::submit(const QStringList &args, bool withOrvo2Variable)
{
    QProcessEnvironment env = slurm->environment();
    env.remove("ORVO2");
    if (withOrvo2Variable)
        env.insert("ORVO2", ORVO2_EXE);
    env.insert("ORVO2_SLURM_POLL", "1");
    return runProgram("bash", QStringList{wrapper} + args, QFileInfo(script).path(), env,
                      submitTimeoutMs);
}

void TestSlurm::refusesBadRequests_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("set beyond the list")
        << QStringList{"--sets", "2,5"} << "--sets: no set 5, the script selects sets 0 to 4";
    QTest::newRow("set list with words")
        << QStringList{"--sets", "two"} << "--sets needs set numbers like 3,7 or 2-5: two";
    QTest::newRow("no CPUs") << QStringList{"--cpus", "0"}
                             << "--cpus needs a whole number of 1 or more: 0";
    QTest::newRow("unknown option")
        << QStringList{"--nodes", "4"} << "unknown option --nodes (--help lists them)";
}

void TestSlurm::refusesBadRequests()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run r = submit(args + QStringList{script});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY2(!r.out.contains("Submitted"), qPrintable(r.out));
}

void TestSlurm::arrayEqualsLocalRun()
{
    // Without ORVO2 the program is the one in the build folder of the wrapper's tree.
    const Run r = submit({"--wait", "--cpus", "1", script}, false);
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QStringLiteral("Program: %1 (from the build of the wrapper's source "
                                           "tree)")
                                .arg(QFileInfo(wrapper).path() + "/../build/orvo2")
                                .replace("/scripts/../", "/")),
             qPrintable(r.out));
    QVERIFY2(r.out.contains("All 5 sets of seq succeeded"), qPrintable(r.out));
    const QStringList diffs = differences(local, results);
    QVERIFY2(diffs.isEmpty(), qPrintable(diffs.join('\n')));
    // One log per set, each from a run of that set alone.
    for (int k = 0; k < settings.energies; ++k) {
        const QByteArray log =
            readFile(QFileInfo(script).path() + "/seq-slurm/seq-set" + QString::number(k) + ".log");
        QVERIFY2(log.contains(qPrintable(tagOf(k))), qPrintable(QString::number(k)));
        QVERIFY(log.contains("Engines 1 as -threads says, not 2"));
    }
}

void TestSlurm::failedSetIsResubmitted()
{
    QVERIFY(QDir(results).removeRecursively());
    const int brokenSet = 2;
    const QString tag = tagOf(brokenSet);
    const QString proj = settings.outDir + "/proj/";
    const QStringList files = QDir(proj).entryList({"*-" + tag + "-*"}, QDir::Files);
    QCOMPARE(files.size(), settings.projections);
    QHash<QString, QByteArray> kept;
    for (const QString &f : files) {
        kept.insert(f, readFile(proj + f));
        QVERIFY(writeFile(proj + f, "cut short"));
    }

    Run r = submit({"--wait", "--xafs", "--cpus", "1", script});
    qDebug().noquote() << r.out;
    QCOMPARE(r.status, 2);
    QVERIFY2(r.out.contains("Failed: 1 of 5 sets of seq"), qPrintable(r.out));
    const QString log = QFileInfo(script).path() + "/seq-slurm/seq-set2.log";
    QVERIFY2(r.out.contains(QStringLiteral("set 2 (%1): exit status 2, log %2").arg(tag, log)),
             qPrintable(r.out));
    QVERIFY(readFile(log).contains("no projection image of the set could be read"));
    // The spectra wait for every set: they were never built.
    QVERIFY(!QFile::exists(QFileInfo(script).path() + "/seq-slurm/seq-xafs.status"));
    // Every other set is saved as the local run saved it.
    const QStringList partial = differences(local, results, {tag});
    QVERIFY2(partial.isEmpty(), qPrintable(partial.join('\n')));
    for (const QString &f : filesUnder(results + "/" + tag, {}))
        QVERIFY2(!f.endsWith(".dat") && !f.endsWith(".png"), qPrintable(f));

    const QRegularExpression again("Resubmit only these sets with:\n  (.*)\n");
    const QRegularExpressionMatch m = again.match(r.out);
    QVERIFY2(m.hasMatch(), qPrintable(r.out));
    const QString command = m.captured(1);
    QVERIFY2(command.contains("--sets 2 "), qPrintable(command));
    QVERIFY2(command.contains("--xafs"), qPrintable(command));

    for (auto it = kept.cbegin(); it != kept.cend(); ++it)
        QVERIFY(writeFile(proj + it.key(), it.value()));
    QProcessEnvironment env = slurm->environment();
    env.insert("ORVO2", ORVO2_EXE);
    env.insert("ORVO2_SLURM_POLL", "1");
    r = runProgram("bash", {"-c", command}, QFileInfo(script).path(), env, submitTimeoutMs);
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains("All 1 sets of seq succeeded"), qPrintable(r.out));
    QCOMPARE(readFile(QFileInfo(script).path() + "/seq-slurm/seq-xafs.status").trimmed(),
             QByteArray("0"));
    // The spectra folder is the spectra task's own; everything else is the local run's.
    const QStringList diffs = differences(local, results, {"xafs"});
    QVERIFY2(diffs.isEmpty(), qPrintable(diffs.join('\n')));
}

QTEST_GUILESS_MAIN(TestSlurm)
#include "tst_Slurm.moc"

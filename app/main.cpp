#include "app/CfgStore.h"
#include "batch/CommandTable.h"
#include "batch/ScriptCheck.h"
#include "body/Body.h"
#include "body/commands/AllCommands.h"
#include "config/DataRoot.h"
#include "config/RunOptions.h"
#include "imgdata/MemoryBudget.h"
#include "util/Edition.h"
#include "util/TextFile.h"

#include <QApplication>
#include <QDebug>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

namespace {

// A headless run needs no display: without a platform chosen in the
// environment it uses the offscreen one.
void chooseHeadlessPlatform(const CfgStore &cfg)
{
    const bool headless = cfg.has(QStringLiteral("-nw")) || cfg.has(QStringLiteral("-sets"));
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// -commands: every batch word with its arguments and what it does, from the table
// the window carries commands out by; it needs no window and reads no configuration.
int listCommands()
{
    CommandTable table;
    registerAllCommands(table, CommandParts{});
    QTextStream out(stdout);
    for (const QString &line : table.listing())
        out << line << '\n';
    return 0;
}

// -check FILE: the script's unknown words, wrong argument counts and numbers out of
// range, each with its line number, without running anything: 0 when there is none.
int checkScript(const QString &fileName)
{
    QTextStream out(stdout);
    QStringList lines;
    const TextFile::Result result = TextFile::readLines(fileName, &lines);
    if (result != TextFile::Read) {
        out << "Can't open batch file " << TextFile::refusal(result) << ' ' << fileName << '\n';
        return 2;
    }
    CommandTable table;
    registerAllCommands(table, CommandParts{});
    const QStringList problems = ScriptCheck::problems(table, lines);
    for (const QString &problem : problems)
        out << fileName << ": " << problem << '\n';
    if (problems.isEmpty())
        out << fileName << ": no problem found in " << lines.size() << " lines\n";
    return problems.isEmpty() ? 0 : 2;
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef ORVO2_BASE
    Edition::setBase(true);
#endif
    CfgStore &cfg = CfgStore::global();
    cfg.init(argc, argv);
    if (cfg.has(QStringLiteral("-commands")))
        return listCommands();
    if (cfg.has(QStringLiteral("-check")))
        return checkScript(cfg.value(QStringLiteral("-check")));
    chooseHeadlessPlatform(cfg);

    auto *app = new QApplication(argc, argv);
    auto *translator = new QTranslator;
    // Qt's own texts (dialog buttons, file dialogs, context menus) in the same language.
    auto *qtTranslator = new QTranslator;

    QString cfgFile = QStringLiteral("config.cfg");
    if (cfg.has(QStringLiteral("-c")))
        cfgFile = cfg.value(QStringLiteral("-c"));
    if (cfg.has(QStringLiteral("-config")))
        cfgFile = cfg.value(QStringLiteral("-config"));
    // config.cfg in the working directory is optional: only a file named on the
    // command line is missed when it can not be read.
    const bool named = cfg.has(QStringLiteral("-c")) || cfg.has(QStringLiteral("-config"));
    if (named || QFileInfo::exists(cfgFile))
        cfg.read(cfgFile);

    DataRoot::set(cfg.value(QStringLiteral("DataRoot"), DataRoot::get()));
    if (cfg.has(QStringLiteral("-d")))
        DataRoot::set(cfg.value(QStringLiteral("-d")));
    if (cfg.has(QStringLiteral("MemoryLimitMB")))
        MemoryBudget::setLimitMB(cfg.value(QStringLiteral("MemoryLimitMB")));

    const RunOptions runOptions = RunOptions::fromStore(cfg);
    if (!runOptions.ok()) {
        for (const QString &problem : runOptions.problems)
            qDebug().noquote() << problem;
        delete qtTranslator;
        delete translator;
        delete app;
        return 2;
    }

    const bool english = cfg.has(QStringLiteral("-e"));
    const bool batch = cfg.has(QStringLiteral("-b"));
    const QString batchFile = cfg.value(QStringLiteral("-b"));
    // Listing the sets runs the script up to where they are chosen, headless.
    const bool execute = cfg.has(QStringLiteral("-x")) || runOptions.listSets;
    const bool noWindow = cfg.has(QStringLiteral("-nw")) || runOptions.listSets;

    if (!english) {
        (void)translator->load(QStringLiteral(":orvo2_ja_JP"),
                               QCoreApplication::applicationDirPath());
        QCoreApplication::installTranslator(translator);
        if (qtTranslator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                               QStringLiteral("_"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qtTranslator);
        else
            qDebug() << "Can't load Qt's Japanese translation"
                     << QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    }

    auto *body = new Body;
    QObject::connect(body, &Body::finishing, app,
                     [app, body] { QCoreApplication::exit(body->exitStatus()); });
    if (noWindow)
        body->setHeadless(batch && execute);
    else
        body->show();

    if (batch) {
        emit body->callBatchLoad(batchFile);
        if (execute)
            emit body->callBatchExec();
    }

    const int result = QApplication::exec();
    delete body;
    delete qtTranslator;
    delete translator;
    delete app;
    return result;
}

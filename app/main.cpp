#include "app/CfgStore.h"
#include "app/DataRoot.h"
#include "body/Body.h"
#include "imgdata/MemoryBudget.h"
#include "util/Edition.h"

#include <QApplication>
#include <QTranslator>

namespace {

// A headless run needs no display: without a platform chosen in the
// environment it uses the offscreen one.
void chooseHeadlessPlatform(const CfgStore &cfg)
{
    if (cfg.has(QStringLiteral("-nw")) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef ORVO2_BASE
    Edition::setBase(true);
#endif
    CfgStore &cfg = CfgStore::global();
    cfg.init(argc, argv);
    chooseHeadlessPlatform(cfg);

    auto *app = new QApplication(argc, argv);
    auto *translator = new QTranslator;

    QString cfgFile = QStringLiteral("config.cfg");
    if (cfg.has(QStringLiteral("-c")))
        cfgFile = cfg.value(QStringLiteral("-c"));
    if (cfg.has(QStringLiteral("-config")))
        cfgFile = cfg.value(QStringLiteral("-config"));
    cfg.read(cfgFile);

    DataRoot::set(cfg.value(QStringLiteral("DataRoot"), DataRoot::get()));
    if (cfg.has(QStringLiteral("-d")))
        DataRoot::set(cfg.value(QStringLiteral("-d")));
    if (cfg.has(QStringLiteral("MemoryLimitMB")))
        MemoryBudget::setLimitMB(cfg.value(QStringLiteral("MemoryLimitMB")));

    const bool english = cfg.has(QStringLiteral("-e"));
    const bool batch = cfg.has(QStringLiteral("-b"));
    const QString batchFile = cfg.value(QStringLiteral("-b"));
    const bool execute = cfg.has(QStringLiteral("-x"));
    const bool noWindow = cfg.has(QStringLiteral("-nw"));

    if (!english) {
        (void)translator->load(QStringLiteral(":orvo2_ja_JP"),
                               QCoreApplication::applicationDirPath());
        QCoreApplication::installTranslator(translator);
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
    delete translator;
    delete app;
    return result;
}

#include "RunOptions.h"

#include "app/CfgStore.h"

namespace {

// A whole decimal number of at least `least`; -1 when the text is anything else.
int wholeNumber(const QString &text, int least)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value >= least ? value : -1;
}

} // namespace

RunOptions RunOptions::fromStore(const CfgStore &cfg)
{
    RunOptions options;
    const QString setKey = QStringLiteral("-set");
    if (cfg.has(setKey)) {
        const QString text = cfg.value(setKey);
        options.onlySet = wholeNumber(text, 0);
        if (options.onlySet < 0)
            options.problems
                << QStringLiteral("-set needs a set number counted from 0 : \"%1\"").arg(text);
    }
    const QString threadsKey = QStringLiteral("-threads");
    if (cfg.has(threadsKey)) {
        const QString text = cfg.value(threadsKey);
        options.threads = wholeNumber(text, 1);
        if (options.threads < 0) {
            options.threads = 0;
            options.problems << QStringLiteral("-threads needs a number of engines of 1 or more "
                                               ": \"%1\"")
                                    .arg(text);
        }
    }
    options.listSets = cfg.has(QStringLiteral("-sets"));
    return options;
}

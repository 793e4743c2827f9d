#include "CommandTable.h"

#include <QDebug>

#include <algorithm>

namespace {

// Words compare as BatchCmd::isCmd compares them.
QString keyOf(const QString &word)
{
    return word.toUpper();
}

// Later wins: a command that answers later answers ng itself when it must.
CommandTable::Answer combined(CommandTable::Answer a, CommandTable::Answer b)
{
    using Answer = CommandTable::Answer;
    if (a == Answer::Later || b == Answer::Later)
        return Answer::Later;
    return (a == Answer::Ng || b == Answer::Ng) ? Answer::Ng : Answer::Ok;
}

} // namespace

CommandTable::Handler CommandTable::effect(std::function<void(const BatchCmd &)> change)
{
    return [change = std::move(change)](const BatchCmd &command, Origin) {
        change(command);
        return Answer::Ok;
    };
}

void CommandTable::add(const QString &word, const QString &arguments, const QString &description,
                       Handler handler)
{
    if (!isRegistered(word))
        described.append({word, arguments, description});
    entries.push_back({keyOf(word), false, std::move(handler), {}});
}

void CommandTable::addPrefix(const QString &prefix, const QList<Word> &known, PrefixHandler handler)
{
    for (const Word &suffix : known)
        if (!isRegistered(prefix + suffix.word))
            described.append({prefix + suffix.word, suffix.arguments, suffix.description});
    entries.push_back({prefix.toLower(), true, {}, std::move(handler)});
}

void CommandTable::addGuard(Guard guard)
{
    guards.push_back(std::move(guard));
}

void CommandTable::addConfigurationKey(const QString &key)
{
    configurationKeys << keyOf(key);
}

ArgumentRule &CommandTable::rule(const QString &word)
{
    const QString key = keyOf(word);
    auto found = rules.find(key);
    if (found == rules.end())
        found = rules.insert(key, ruleOf(word));
    return *found;
}

ArgumentRule CommandTable::ruleOf(const QString &word) const
{
    const QString key = keyOf(word);
    const auto found = rules.constFind(key);
    if (found != rules.cend())
        return *found;
    for (const Word &w : described)
        if (keyOf(w.word) == key)
            return ArgumentRule::fromUsage(w.arguments);
    return ArgumentRule();
}

void CommandTable::setUnknownWordListener(std::function<void(const BatchCmd &, Origin)> listener)
{
    unknownWord = std::move(listener);
}

bool CommandTable::knows(const BatchCmd &command, Origin origin) const
{
    if (command.noCommand || command.cmd.isEmpty() || isRegistered(command.cmd))
        return true;
    return origin == Origin::Configuration && configurationKeys.contains(keyOf(command.cmd));
}

CommandTable::Answer CommandTable::run(const BatchCmd &command, Origin origin) const
{
    for (const Guard &guard : guards)
        if (const std::optional<Answer> settled = guard(command, origin))
            return *settled;
    // A configuration line answers nobody: it is logged, and start-up goes on.
    const Answer refused = origin == Origin::Script ? Answer::Ng : Answer::Ok;
    if (!knows(command, origin)) {
        qDebug().noquote() << "Unknown batch command :" << command.cmd;
        if (unknownWord)
            unknownWord(command, origin);
        return refused;
    }
    const QString problem = ruleOf(command.cmd).valueProblem(command);
    if (!problem.isEmpty()) {
        qDebug().noquote() << problem + QStringLiteral(", the old value is kept");
        return refused;
    }
    const QString key = keyOf(command.cmd);
    const QString lower = command.cmd.toLower();
    Answer answer = Answer::Ok;
    for (const Entry &entry : entries) {
        if (!entry.prefix && entry.key == key)
            answer = combined(answer, entry.handler(command, origin));
        else if (entry.prefix && lower.startsWith(entry.key))
            answer =
                combined(answer, entry.prefixHandler(command, lower.mid(entry.key.size()), origin));
    }
    return answer;
}

bool CommandTable::isRegistered(const QString &word) const
{
    const QString key = keyOf(word);
    return std::any_of(described.cbegin(), described.cend(),
                       [&key](const Word &w) { return keyOf(w.word) == key; });
}

QList<CommandTable::Word> CommandTable::words() const
{
    return described;
}

QStringList CommandTable::listing() const
{
    const auto usage = [](const Word &w) {
        return w.arguments.isEmpty() ? w.word : w.word + QLatin1Char(' ') + w.arguments;
    };
    qsizetype width = 0;
    for (const Word &w : described)
        width = std::max(width, usage(w).size());
    QStringList lines;
    for (const Word &w : described)
        lines << (usage(w).leftJustified(width + 2) + w.description).trimmed();
    return lines;
}

#pragma once

#include "batch/ArgumentRule.h"
#include "batch/BatchCmd.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The batch command words and what each does. Every feature registers its own
// words here, with their arguments and a line saying what they do, so that the
// program can carry a command out, tell whether it knows a word and list them all.
//
// A command runs the guards first; a guard that answers settles it. Otherwise every
// handler that matches the word runs, in the order of registration (one word may
// have several effects), and the command answers what its handlers answered.
//
// A word never registered is a typo until shown otherwise: it is logged as unknown
// and answers ng, so that a misspelt setting does not leave the old one in force
// unnoticed. A number outside its word's range is refused the same way, before any
// handler sees it, so the old value stays.
class CommandTable
{
public:
    enum class Answer {
        Ok,   // done; the script line's flag is left as it is
        Ng,   // done; the script line's flag becomes ng
        Later // the command answers by itself when what it started has ended
    };
    // A script line is answered; a line of the configuration file answers nobody.
    enum class Origin { Script, Configuration };

    using Handler = std::function<Answer(const BatchCmd &, Origin)>;
    // Handles every word that begins with a prefix; `suffix` is the rest of the word,
    // in lower case.
    using PrefixHandler = std::function<Answer(const BatchCmd &, const QString &suffix, Origin)>;
    using Guard = std::function<std::optional<Answer>(const BatchCmd &, Origin)>;

    struct Word
    {
        QString word;
        QString arguments;
        QString description;
    };

    // A handler that only changes something and answers ok.
    static Handler effect(std::function<void(const BatchCmd &)> change);

    // A word registered again adds a handler; the first registration describes it.
    void add(const QString &word, const QString &arguments, const QString &description,
             Handler handler);
    // `known` lists the suffixes the handler understands (their `word` is the suffix):
    // the words they make are listed and registered. Others reach the handler too.
    void addPrefix(const QString &prefix, const QList<Word> &known, PrefixHandler handler);
    void addGuard(Guard guard);
    // Keys the configuration file has for itself (its data root, includes): known
    // there, unknown in a script.
    void addConfigurationKey(const QString &key);
    // The argument rule of a registered word, made from its arguments' usage the
    // first time; ranges added to it are checked before any handler runs.
    ArgumentRule &rule(const QString &word);
    ArgumentRule ruleOf(const QString &word) const;
    // Told of every unknown word, after it is logged.
    void setUnknownWordListener(std::function<void(const BatchCmd &, Origin)> listener);

    Answer run(const BatchCmd &command, Origin origin) const;

    bool isRegistered(const QString &word) const;
    bool knows(const BatchCmd &command, Origin origin) const;
    // Every word once, in the order of registration.
    QList<Word> words() const;
    // One line a word: the word and its arguments, then the description.
    QStringList listing() const;

private:
    struct Entry
    {
        QString key; // the word in upper case, or the prefix in lower case
        bool prefix = false;
        Handler handler;
        PrefixHandler prefixHandler;
    };

    std::vector<Guard> guards;
    std::vector<Entry> entries;
    QList<Word> described;
    QStringList configurationKeys;
    QHash<QString, ArgumentRule> rules;
    std::function<void(const BatchCmd &, Origin)> unknownWord;
};

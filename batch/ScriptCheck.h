#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

class CommandTable;

// A script read without running it: each line the program would refuse or not
// understand, with its line number in the file.
namespace ScriptCheck {

// The labels of a script: the words :goto lines jump to (a condition's :goto too).
QSet<QString> labels(const QStringList &lines);

// One text per problem, "line N: ...", lines counted from 1 with comments and blank
// lines included: unknown words, wrong argument counts, numbers out of range.
QStringList problems(const CommandTable &table, const QStringList &fileLines);

} // namespace ScriptCheck

#pragma once

#include <QString>
#include <QStringList>

// Line functions shared by the configuration reader, the batch loader, the
// ITEX header reader and the list formatting of the data directory panel.

// The part of `line` before its comment ("#" outside quotes); the text after
// the "#" goes to `comment` (left untouched when there is no comment).
QString splitComment(const QString &line, QString &comment);
QString removeComment(const QString &line);
// True when nothing but whitespace is left once the comment is removed.
bool isBlank(const QString &line);
// Cuts a trailing backslash (and what follows it) off `line`; true if it did.
bool stripContinuation(QString &line);
// Takes the first item off the front of `line` into `item` and returns the rest.
QString takeItem(const QString &line, QString &item);
bool startsWithKey(const QString &line, const QString &key);
QStringList itemsAfter(const QString &line, const QString &key);
// n spaces for 0 <= n <= 100, otherwise 101 spaces.
QString spaces(int n);

#include "Batch.h"

#include "batch/ScriptCheck.h"
#include "util/TextFile.h"
#include "util/TextLine.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

namespace {
// Control lines run in a loop rather than by recursion; after this many the
// loop yields to the event loop so that a stop request still gets through.
constexpr int controlLinesPerTurn = 256;
} // namespace

Batch::Batch(QObject *parent)
    : QObject(parent)
{
    connect(this, &Batch::batchExecNext, this, &Batch::batchNext);
    connect(this, &Batch::batchFinishALine, this, &Batch::batchCheckEnd);
}

void Batch::setRunning(bool value)
{
    const bool wasRunning = running;
    running = value;
    if (wasRunning && !running)
        emit batchEnded();
}

void Batch::batchStart()
{
    setRunning(true);
    current = 0;
    emit batchExecNext();
}

void Batch::batchStop()
{
    setRunning(false);
}

void Batch::batchExec()
{
    if (!running) {
        setRunning(true);
        current = 0;
        emit batchExecNext();
    } else {
        setRunning(false);
    }
}

void Batch::batchCheckEnd()
{
    if (!running)
        return;
    if (!lines.isEmpty())
        emit batchExecNext();
    else
        setRunning(false);
}

void Batch::batchLoad(QString fname)
{
    QStringList read;
    const TextFile::Result result = TextFile::readLines(fname, &read);
    if (result != TextFile::Read) {
        if (result == TextFile::CanNotOpen)
            qDebug() << "Can't open batch file" << fname;
        else
            qDebug() << "Can't open batch file" << TextFile::refusal(result) << fname;
        emit batchLoaded(false, fname);
        return;
    }

    lines.clear();
    for (const QString &raw : read) {
        QString text = removeComment(raw);
        QString probe = text;
        if (stripContinuation(probe)) {
            qDebug().noquote() << "Batch line ending in a backslash is not executed :" << raw;
            continue;
        }
        if (!text.isEmpty())
            lines << text;
    }
    labels = ScriptCheck::labels(lines);
    emit batchLoaded(true, fname);
}

void Batch::continueLater()
{
    QMetaObject::invokeMethod(this, &Batch::batchNext, Qt::QueuedConnection);
}

bool Batch::executeControl(BatchCmd &c)
{
    if (c.isCmd(QStringLiteral(":goto"))) {
        const QString label = c.argText(0);
        for (int i = 0; i < lines.size(); ++i) {
            if (BatchCmd(lines.at(i)).cmd == label) {
                current = i;
                break;
            }
        }
        if (running && lines.isEmpty())
            setRunning(false);
        return true;
    }
    if (c.isCmd(QStringLiteral(":end")) || c.isCmd(QStringLiteral(":stop"))) {
        setRunning(false);
        return true;
    }
    if (c.isCmd(QStringLiteral(":echo"))) {
        qDebug().noquote() << c.line;
        return true;
    }
    return false;
}

void Batch::batchNext()
{
    for (int step = 0; step < controlLinesPerTurn; ++step) {
        if (!running)
            return;
        if (current >= lines.size()) {
            setRunning(false);
            return;
        }
        BatchCmd c(lines.at(current++));
        qDebug() << "cmd" << c.cmd;

        // A condition re-parses the text after its keyword as written, so quoted
        // items keep their blanks.
        if (c.isCmd(QStringLiteral(":ifok")) && ok.load())
            c.parse(c.restText());
        if (c.isCmd(QStringLiteral(":ifng")) && !ok.load())
            c.parse(c.restText());
        // A condition not met and a label still reach the main window (they set the
        // line's flag ok as any command does) but are no misspelt command.
        c.noCommand = c.isCmd(QStringLiteral(":ifok")) || c.isCmd(QStringLiteral(":ifng")) ||
                      labels.contains(c.cmd);

        if (!executeControl(c)) {
            ok.store(true);
            emit batchExCmd(c);
            return;
        }
    }
    continueLater();
}

#pragma once

#include "BatchCmd.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <atomic>

// Runs a script one line at a time on its own thread. Control keywords are
// handled here; every other line goes to the main window as a BatchCmd, and the
// next line runs when the main window reports the command complete.
class Batch : public QObject
{
    Q_OBJECT
public:
    explicit Batch(QObject *parent = nullptr);

    bool isRunning() const { return running; }
    int currentLine() const { return current; }
    QStringList scriptLines() const { return lines; }
    // ok/ng state; written by the main window ("seq_exec_next") while the
    // interpreter waits for that command's completion.
    bool isOk() const { return ok.load(); }
    void setOk(bool value) { ok.store(value); }

signals:
    void batchExecNext();
    void batchFinishALine();
    void batchExCmd(BatchCmd cmd);
    // The script stopped running: its end, ":end", ":stop", or a stop request.
    void batchEnded();
    // The result of each batchLoad: false when the file could not be opened.
    void batchLoaded(bool opened, QString fname);

public slots:
    void batchStart();
    void batchStop();
    void batchNext();
    void batchLoad(QString fname);
    void batchExec();
    void batchCheckEnd();

private:
    void setRunning(bool value);
    // Executes a control line; false when `c` is a command for the main window.
    bool executeControl(BatchCmd &c);
    void continueLater();

    bool running = false;
    int current = 0;
    QStringList lines;
    QSet<QString> labels;
    std::atomic<bool> ok{true};
};

#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (what scancel, Ctrl-C and a closed terminal send) as a
// Qt signal on the thread that made this object, so that a headless run can end in
// order: a handler may do almost nothing safely, so it only writes the signal's
// number into a pipe that the event loop watches. A second signal ends the process
// at once with status 128 + N, for a user who will not wait for the orderly end.
// One object at a time; its destructor restores the default handlers.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // False when the pipe or the handlers could not be set up (logged).
    bool isWatching() const { return notifier != nullptr; }

signals:
    void stopAsked(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
};

#include "StopSignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int watchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalSeen = 0;

void onStopSignal(int signalNumber)
{
    if (signalSeen != 0)
        _exit(128 + signalNumber);
    signalSeen = signalNumber;
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    (void)written;
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = handler;
    // Blocking the other stop signals while one is handled keeps the handler's
    // first/second decision whole.
    sigemptyset(&action.sa_mask);
    for (int s : watchedSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int s : watchedSignals)
        sigaction(s, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (pipeEnds[0] >= 0) {
        qDebug() << "Stop signals are watched already";
        return;
    }
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qDebug() << "Stop signals not watched: no pipe" << std::strerror(errno);
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    signalSeen = 0;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    setHandler(onStopSignal);
}

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    setHandler(SIG_DFL);
    delete notifier;
    notifier = nullptr;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void StopSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        emit stopAsked(byte);
}

#include "signalwatcher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t pipeWriteFd = -1;

void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t ignored = write(pipeWriteFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) {}

SignalWatcher::~SignalWatcher()
{
    notifier.reset();
    if (readFd >= 0) {
        ::close(readFd);
    }
}

bool SignalWatcher::watch(std::initializer_list<int> signalNumbers, QString *error)
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot create a pipe: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    readFd = fds[0];
    pipeWriteFd = fds[1];
    notifier = std::make_unique<QSocketNotifier>(readFd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readPipe);

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : signalNumbers) {
        if (sigaction(signalNumber, &action, nullptr) != 0) {
            *error = QStringLiteral("cannot watch signal %1").arg(signalNumber);
            return false;
        }
    }
    return true;
}

void SignalWatcher::readPipe()
{
    char bytes[16];
    ssize_t count;
    while ((count = ::read(readFd, bytes, sizeof bytes)) > 0) {
        for (ssize_t index = 0; index < count; ++index) {
            emit signalled(bytes[index]);
        }
    }
}

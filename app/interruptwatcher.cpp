#include "interruptwatcher.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t writeDescriptor = -1;

void forwardInterrupt(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(writeDescriptor, &byte, 1);
    errno = savedErrno;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent) {}

InterruptWatcher::~InterruptWatcher()
{
    notifier.reset();
    if (readDescriptor >= 0) {
        ::close(readDescriptor);
    }
}

void InterruptWatcher::watch()
{
    int descriptors[2];
    if (pipe2(descriptors, O_NONBLOCK | O_CLOEXEC) != 0) {
        return;
    }
    readDescriptor = descriptors[0];
    writeDescriptor = descriptors[1];
    notifier = std::make_unique<QSocketNotifier>(readDescriptor, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &InterruptWatcher::readPipe);

    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = forwardInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

void InterruptWatcher::readPipe()
{
    char bytes[16];
    bool any = false;
    while (::read(readDescriptor, bytes, sizeof bytes) > 0) {
        any = true;
    }
    if (any) {
        emit interrupted();
    }
}

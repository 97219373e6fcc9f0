#ifndef VORSEL_TESTS_SIM_SIMHARNESS_H
#define VORSEL_TESTS_SIM_SIMHARNESS_H

// The built vorsel-sim as a subprocess, and the program's end of its links.
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include "simulatorprocess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

class Link
{
    Q_DISABLE_COPY(Link)

public:
    explicit Link(const QByteArray &target = QByteArray()) { open(target); }
    ~Link() { close(); }
    // Connects to "ADDRESS:PORT", or opens the slave end of a pty (a path), which the simulator
    // sets raw itself, dropping what an earlier test left unread. "/dev/ptmx" gives a pty of its
    // own, whose slave end slave() names.
    bool open(const QByteArray &target)
    {
        close();
        if (!target.contains(':')) {
            fd = ::open(target.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0 && tcflush(fd, TCIOFLUSH) == 0;
        }
        std::signal(SIGPIPE, SIG_IGN);
        const int colon = target.lastIndexOf(':');
        sockaddr_in address{AF_INET, htons(target.mid(colon + 1).toUShort()), {}, {}};
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return inet_pton(AF_INET, target.left(colon).constData(), &address.sin_addr) == 1 &&
               ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
               fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
    }
    void close()
    {
        ::close(std::exchange(fd, -1));
        buffer.clear();
    }
    QByteArray slave()
    {
        char name[128];
        return unlockpt(fd) == 0 && ptsname_r(fd, name, sizeof name) == 0 ? name : "";
    }
    // Gives up when the simulator takes nothing for a long time or drops the link.
    void send(const QByteArray &bytes)
    {
        for (qint64 sent = 0; sent < bytes.size() && ready(POLLOUT, simulatorBoundMs);) {
            const ssize_t written =
                ::write(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent));
            if (written < 0 && errno != EAGAIN) {
                return;
            }
            sent += qMax<ssize_t>(written, 0);
        }
    }
    // Bytes up to and including `end`; nothing when they did not all come in time.
    QByteArray readUntil(const QByteArray &end = "\r", int ms = simulatorBoundMs)
    {
        const QDeadlineTimer deadline(ms);
        while (!buffer.contains(end) && receive(static_cast<int>(deadline.remainingTime()))) {
        }
        return readCount(buffer.contains(end) ? buffer.indexOf(end) + end.size() : 0);
    }
    // `count` bytes, fewer when they did not come in time.
    QByteArray readCount(int count)
    {
        const QDeadlineTimer deadline(simulatorBoundMs);
        while (buffer.size() < count && receive(static_cast<int>(deadline.remainingTime()))) {
        }
        const QByteArray bytes = buffer.left(count);
        buffer.remove(0, bytes.size());
        return bytes;
    }
    QByteArray exchange(const QByteArray &message, const QByteArray &end = "\r")
    {
        send(message + end);
        return readUntil(end);
    }
    // Only for checks that something stays out: no byte comes within the time.
    bool quietFor(int ms) { return buffer.isEmpty() && !receive(ms); }

private:
    bool ready(short events, int ms)
    {
        pollfd descriptor{fd, events, 0};
        return poll(&descriptor, 1, ms) > 0;
    }
    bool receive(int ms)
    {
        char bytes[65536];
        const ssize_t count = ready(POLLIN, ms) ? ::read(fd, bytes, sizeof bytes) : -1;
        buffer.append(bytes, static_cast<int>(qMax<ssize_t>(count, 0)));
        return count > 0;
    }
    int fd = -1;
    QByteArray buffer;
};

class Sim : public SimulatorProcess
{
public:
    ~Sim() { finish(); }
    // Every test port is chosen by the system (port 0), so none is ever busy.
    bool start(const QString &options, const QString &wrapper = QString())
    {
        return SimulatorProcess::start(options.split(' ', Qt::SkipEmptyParts), wrapper);
    }
    static bool namespacesWork() { return QProcess::execute("unshare", {"-rmn", "true"}) == 0; }
    // The exit status once it ended after the signal (0: none); -1 for a crash or no end in time.
    int stop(int signalNumber = 0)
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        }
        const bool ended =
            process.state() == QProcess::NotRunning || process.waitForFinished(simulatorBoundMs);
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QByteArray errors() { return errorText += process.readAllStandardError(); }
    qint64 peakResidentKib(bool restart = false)
    {
        return ::peakResidentKib(process.processId(), restart);
    }
    // Whether its peak grew by less than 16 MiB since it was `before` (which must be known).
    // Not judged under AddressSanitizer, which keeps freed buffers resident for a while.
    bool grewLittleSince(qint64 before)
    {
#ifdef __SANITIZE_ADDRESS__
        return before > 0;
#else
        return before > 0 && peakResidentKib() - before < 16 * 1024;
#endif
    }
    // Fails the running test unless it ends with 0 on SIGTERM (if still running) and printed
    // no sanitizer report.
    void finish()
    {
        if (std::exchange(finished, true)) {
            return;
        }
        QVERIFY2(process.state() == QProcess::NotRunning || stop(SIGTERM) == 0,
                 errors().constData());
        QVERIFY2(!errors().contains("Sanitizer") && !errors().contains("runtime error:"),
                 errors().constData());
    }

private:
    QByteArray errorText;
    bool finished = false;
};

#endif

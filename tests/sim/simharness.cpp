#include "simharness.h"

#include <QDeadlineTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <numeric>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>

QByteArray addressed(int node, const QByteArray &message)
{
    const QByteArray body = QByteArray::number(node).rightJustified(2, '0') + message;
    const int fcs = std::accumulate(body.begin(), body.end(), 0, std::bit_xor<>()) & 0xFF;
    return '\x01' + body + QByteArray::number(fcs, 16).toUpper().rightJustified(2, '0') + '\r';
}

bool Link::open(const QByteArray &target)
{
    // The simulator sets its pty raw itself; what an earlier test left unread is dropped.
    if (target.startsWith('/')) {
        fd = ::open(target.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 && tcflush(fd, TCIOFLUSH) == 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int colon = target.lastIndexOf(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(target.mid(colon + 1).toUInt()));
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return inet_pton(AF_INET, target.left(colon).constData(), &address.sin_addr) == 1 &&
           ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
           fcntl(fd, F_SETFL, O_NONBLOCK) == 0;
}

QByteArray Link::openPtyMaster()
{
    fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128];
    const bool opened =
        fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0 && ptsname_r(fd, name, sizeof name) == 0;
    return opened ? QByteArray(name) : QByteArray();
}

void Link::send(const QByteArray &bytes)
{
    const QDeadlineTimer deadline(waitMs);
    for (qint64 sent = 0; sent < bytes.size() && !deadline.hasExpired();) {
        pollfd descriptor{fd, POLLOUT, 0};
        poll(&descriptor, 1, 100);
        const auto left = static_cast<size_t>(bytes.size() - sent);
        const ssize_t written = ::write(fd, bytes.constData() + sent, left);
        if (written < 0 && errno != EAGAIN) {
            return;
        }
        sent += qMax<ssize_t>(written, 0);
    }
}

bool Link::receive(int ms)
{
    pollfd descriptor{fd, POLLIN, 0};
    char bytes[65536];
    const ssize_t count = poll(&descriptor, 1, ms) > 0 ? ::read(fd, bytes, sizeof bytes) : -1;
    ended = count == 0 || (count < 0 && errno == ECONNRESET);
    buffer.append(bytes, static_cast<int>(qMax<ssize_t>(count, 0)));
    return count > 0;
}

QByteArray Link::readUntil(const QByteArray &end, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!buffer.contains(end) && receive(static_cast<int>(deadline.remainingTime()))) {
    }
    // All of it is there already, or nothing is taken.
    return readCount(buffer.contains(end) ? buffer.indexOf(end) + end.size() : 0);
}

QByteArray Link::readCount(int count)
{
    const QDeadlineTimer deadline(waitMs);
    while (buffer.size() < count && receive(static_cast<int>(deadline.remainingTime()))) {
    }
    const QByteArray bytes = buffer.left(count);
    buffer.remove(0, bytes.size());
    return bytes;
}

QByteArray answersBeforeMarker(Link &link, const QByteArray &bytes, int pieceSize)
{
    const QByteArray sent = bytes + "10MARK\r";
    const int step = pieceSize > 0 ? pieceSize : sent.size();
    for (int position = 0; position < sent.size(); position += step) {
        link.send(sent.mid(position, step));
        usleep(pieceSize > 0 ? 5000 : 0);
    }
    const QByteArray answers = link.readUntil("00MARK\r");
    return answers.isEmpty() ? noMarker : answers.chopped(7);
}

bool Sim::start(const QString &options, const QString &wrapper, bool retryWhenBusy)
{
    QStringList arguments = options.split(' ', Qt::SkipEmptyParts);
    if (!wrapper.isEmpty()) {
        arguments =
            QStringList{"-rmn", "sh", "-c", wrapper + R"( && exec "$0" "$@")", VORSEL_SIM_PATH} +
            arguments;
    }
    // A fixed address may be busy with another tree's tests for a while.
    for (const QDeadlineTimer deadline(60000);; usleep(200000)) {
        errorText.clear();
        process.start(wrapper.isEmpty() ? VORSEL_SIM_PATH : "unshare", arguments);
        QByteArray line;
        while (!(line = outputLine()).isEmpty() && line != "ready") {
            order.append(line.left(line.indexOf(' ')));
            lines.insert(order.last(), line.mid(line.indexOf(' ') + 1));
        }
        // The control port of a wrapped one is in its own network.
        if (line == "ready") {
            return ready("control").isEmpty() || !wrapper.isEmpty() ||
                   controlLink.open(ready("control"));
        }
        if (!retryWhenBusy || stop() != 1 || !errors().contains("cannot listen on") ||
            deadline.hasExpired()) {
            return false;
        }
    }
}

QByteArray Sim::outputLine()
{
    const QDeadlineTimer deadline(waitMs);
    while (!process.canReadLine() &&
           process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    }
    return process.readLine().trimmed();
}

QByteArray Sim::control(const QByteArray &line)
{
    controlLink.send(line + '\n');
    return controlLink.readUntil("\n").trimmed();
}

int Sim::stop(int signalNumber)
{
    if (process.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    }
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(waitMs);
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

qint64 Sim::peakResidentKib()
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : "";
    const int start = text.indexOf("VmHWM:") + 6;
    return text.mid(start, text.indexOf(" kB", start) - start).trimmed().toLongLong();
}

void Sim::finish()
{
    if (std::exchange(finished, true)) {
        return;
    }
    QVERIFY2(process.state() == QProcess::NotRunning || stop(SIGTERM) == 0, errors().constData());
    QVERIFY2(!errors().contains("Sanitizer") && !errors().contains("runtime error:"),
             errors().constData());
}

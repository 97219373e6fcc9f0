#include "simharness.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

QString simulatorPath()
{
    return QStringLiteral(VORSEL_SIM_PATH);
}

QByteArray addressedFrame(int node, const QByteArray &message)
{
    const QByteArray body = QByteArray::number(node).rightJustified(2, '0') + message;
    unsigned char fcs = 0;
    for (char character : body) {
        fcs ^= static_cast<unsigned char>(character);
    }
    return '\x01' + body + QByteArray::number(fcs, 16).toUpper().rightJustified(2, '0') + '\r';
}

bool hasMatchingFcs(const QByteArray &frame)
{
    if (frame.size() < 8 || !frame.startsWith('\x01') || !frame.endsWith('\r')) {
        return false;
    }
    return addressedFrame(frame.mid(1, 2).toInt(), frame.mid(3, frame.size() - 6)) == frame;
}

SimulatorProcess::~SimulatorProcess()
{
    if (!running()) {
        failOnSanitizerReport();
        return;
    }
    const int status = stop(SIGTERM);
    if (running()) {
        process.kill();
        process.waitForFinished(startTimeoutMs);
    }
    if (status != 0) {
        QTest::qFail(qPrintable(QStringLiteral("simulator ended with %1 on SIGTERM: %2")
                                    .arg(status)
                                    .arg(QString::fromLocal8Bit(standardError()))),
                     __FILE__, __LINE__);
    }
}

QByteArray SimulatorProcess::standardError()
{
    errorOutput += process.readAllStandardError();
    return errorOutput;
}

void SimulatorProcess::failOnSanitizerReport()
{
    const QByteArray errors = standardError();
    if (!reported && (errors.contains("Sanitizer") || errors.contains("runtime error:"))) {
        reported = true;
        QTest::qFail(errors.constData(), __FILE__, __LINE__);
    }
}

bool SimulatorProcess::start(const QStringList &arguments)
{
    process.setProgram(simulatorPath());
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(startTimeoutMs)) {
        return false;
    }
    for (;;) {
        const QByteArray line = readStandardOutputLine();
        if (line.isNull()) {
            return false;
        }
        if (line == "ready") {
            return true;
        }
        const int space = line.indexOf(' ');
        order.append(line.left(space));
        readinessLines.insert(line.left(space), line.mid(space + 1));
    }
}

QByteArray SimulatorProcess::readStandardOutputLine()
{
    QDeadlineTimer deadline(replyTimeoutMs);
    for (;;) {
        const int lineFeed = outputBuffer.indexOf('\n');
        if (lineFeed >= 0) {
            const QByteArray line = outputBuffer.left(lineFeed);
            outputBuffer.remove(0, lineFeed + 1);
            return line;
        }
        if (deadline.hasExpired() ||
            !process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return QByteArray();
        }
        outputBuffer += process.readAllStandardOutput();
    }
}

QByteArray SimulatorProcess::control(const QByteArray &line)
{
    if (controlSocket.state() != QAbstractSocket::ConnectedState) {
        const QByteArray address = readiness("control");
        const int colon = address.lastIndexOf(':');
        controlSocket.connectToHost(QHostAddress(QString::fromLatin1(address.left(colon))),
                                    static_cast<quint16>(address.mid(colon + 1).toUInt()));
        if (!controlSocket.waitForConnected(replyTimeoutMs)) {
            return QByteArray();
        }
    }
    controlSocket.write(line + '\n');
    controlSocket.waitForBytesWritten(replyTimeoutMs);
    QDeadlineTimer deadline(replyTimeoutMs);
    for (;;) {
        const int lineFeed = controlBuffer.indexOf('\n');
        if (lineFeed >= 0) {
            const QByteArray reply = controlBuffer.left(lineFeed);
            controlBuffer.remove(0, lineFeed + 1);
            return reply;
        }
        if (deadline.hasExpired() ||
            !controlSocket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return QByteArray();
        }
        controlBuffer += controlSocket.readAll();
    }
}

QByteArray SimulatorProcess::controlByStandardInput(const QByteArray &line)
{
    process.write(line + '\n');
    process.waitForBytesWritten(replyTimeoutMs);
    return readStandardOutputLine();
}

int SimulatorProcess::stop(int signalNumber)
{
    ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    return waitForExit();
}

int SimulatorProcess::waitForExit()
{
    if (running() && !process.waitForFinished(startTimeoutMs)) {
        return -1;
    }
    failOnSanitizerReport();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray ProgramEnd::readFrame(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const int carriageReturn = buffer.indexOf('\r');
        if (carriageReturn >= 0) {
            const QByteArray frame = buffer.left(carriageReturn + 1);
            buffer.remove(0, carriageReturn + 1);
            return frame;
        }
        if (deadline.hasExpired() || !receiveMore(static_cast<int>(deadline.remainingTime()))) {
            return QByteArray();
        }
    }
}

QByteArray ProgramEnd::exchange(const QByteArray &message)
{
    send(message + '\r');
    return readFrame();
}

QByteArray ProgramEnd::readBytes(qint64 count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (buffer.size() < count && !deadline.hasExpired() &&
           receiveMore(static_cast<int>(deadline.remainingTime()))) {
    }
    const QByteArray bytes = buffer.left(static_cast<int>(count));
    buffer.remove(0, bytes.size());
    return bytes;
}

QByteArray ProgramEnd::readSome(int timeoutMs)
{
    if (buffer.isEmpty()) {
        receiveMore(timeoutMs);
    }
    const QByteArray bytes = buffer;
    buffer.clear();
    return bytes;
}

bool ProgramEnd::staysSilentFor(int milliseconds)
{
    return buffer.isEmpty() && !receiveMore(milliseconds);
}

bool TcpProgram::connectTo(const QByteArray &addressAndPort)
{
    const int colon = addressAndPort.lastIndexOf(':');
    socket.connectToHost(QHostAddress(QString::fromLatin1(addressAndPort.left(colon))),
                         static_cast<quint16>(addressAndPort.mid(colon + 1).toUInt()));
    return socket.waitForConnected(replyTimeoutMs);
}

void TcpProgram::send(const QByteArray &bytes)
{
    socket.write(bytes);
    socket.waitForBytesWritten(replyTimeoutMs);
}

bool TcpProgram::waitForClose(int timeoutMs)
{
    return socket.state() == QAbstractSocket::UnconnectedState ||
           socket.waitForDisconnected(timeoutMs);
}

void TcpProgram::disconnect()
{
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState) {
        socket.waitForDisconnected(replyTimeoutMs);
    }
}

bool TcpProgram::receiveMore(int timeoutMs)
{
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs)) {
        return false;
    }
    buffer += socket.readAll();
    return true;
}

PtyProgram::~PtyProgram()
{
    close();
}

bool PtyProgram::open(const QByteArray &path)
{
    fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings;
    if (fd < 0 || tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

QByteArray PtyProgram::openMaster()
{
    fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        return QByteArray();
    }
    return QByteArray(name);
}

void PtyProgram::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    buffer.clear();
}

void PtyProgram::send(const QByteArray &bytes)
{
    qint64 position = 0;
    QDeadlineTimer deadline(replyTimeoutMs);
    while (position < bytes.size() && !deadline.hasExpired()) {
        const ssize_t written =
            ::write(fd, bytes.constData() + position, static_cast<size_t>(bytes.size() - position));
        if (written > 0) {
            position += written;
        } else {
            pollfd descriptor{fd, POLLOUT, 0};
            poll(&descriptor, 1, 100);
        }
    }
}

bool PtyProgram::receiveMore(int timeoutMs)
{
    pollfd descriptor{fd, POLLIN, 0};
    if (poll(&descriptor, 1, timeoutMs) <= 0) {
        return false;
    }
    char bytes[65536];
    const ssize_t count = ::read(fd, bytes, sizeof bytes);
    if (count <= 0) {
        return false;
    }
    buffer.append(bytes, static_cast<int>(count));
    return true;
}

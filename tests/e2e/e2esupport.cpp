#include "e2esupport.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {

namespace {

const char simulatorProgram[] = SIMULATOR_PROGRAM;
const char recorderLibrary[] = RECORDER_LIBRARY;

void endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(replyTimeoutMs)) {
        process.kill();
        process.waitForFinished(replyTimeoutMs);
    }
}

} // namespace

QString vorselProgram()
{
    return QStringLiteral(VORSEL_PROGRAM);
}

bool sanitizedBuild()
{
    return SANITIZED_BUILD != 0;
}

QString loopbackAddress(int lastOctet)
{
    // Anything else could reach a real unit or another test's simulator.
    if (lastOctet < 10 || lastOctet > 99) {
        qFatal("loopback address 127.0.0.%d is outside the range of the end-to-end tests",
               lastOctet);
    }
    return QStringLiteral("127.0.0.%1").arg(lastOctet);
}

bool retryWhileAddressBusy(const std::function<bool()> &attempt)
{
    const QDeadlineTimer deadline(addressWaitMs);
    while (!attempt()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(100);
    }
    return true;
}

bool listenAsUnit(QTcpServer *server, int lastOctet)
{
    return retryWhileAddressBusy([server, lastOctet]() {
        return server->listen(QHostAddress(loopbackAddress(lastOctet)), 7090);
    });
}

QByteArray unaddressedFrame(const QByteArray &message)
{
    return message + '\r';
}

QByteArray addressedFrame(int node, const QByteArray &message)
{
    const QByteArray checked = QByteArray::number(node).rightJustified(2, '0') + message;
    unsigned char checkSequence = 0;
    for (char character : checked) {
        checkSequence ^= static_cast<unsigned char>(character);
    }
    return '\x01' + checked +
           QByteArray::number(checkSequence, 16).toUpper().rightJustified(2, '0') + '\r';
}

QProcessEnvironment recordingEnvironment(const QString &recordPath)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QString::fromLocal8Bit(recorderLibrary));
    environment.insert(QStringLiteral("TCSETATTR_RECORD"), recordPath);
    // A sanitized program refuses a preloaded library ahead of its runtime unless told not to.
    const QString sanitizerOptions = environment.value(QStringLiteral("ASAN_OPTIONS"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       (sanitizerOptions.isEmpty() ? QString() : sanitizerOptions + ':') +
                           QStringLiteral("verify_asan_link_order=0"));
    return environment;
}

Simulator::~Simulator()
{
    endProcess(process);
}

bool Simulator::start(const QStringList &arguments)
{
    bool addressBusy = false;
    return retryWhileAddressBusy([this, &arguments, &addressBusy]() {
               return startOnce(arguments, &addressBusy) || !addressBusy;
           }) &&
           process.state() == QProcess::Running;
}

bool Simulator::startOnce(const QStringList &arguments, bool *addressBusy)
{
    *addressBusy = false;
    process.setProgram(QString::fromLocal8Bit(simulatorProgram));
    process.setArguments(arguments);
    process.start();
    if (!process.waitForStarted(replyTimeoutMs)) {
        error = QStringLiteral("vorsel-sim did not start: %1").arg(process.errorString());
        return false;
    }
    for (;;) {
        const QByteArray line = readLine(replyTimeoutMs);
        if (line.isNull()) {
            endProcess(process);
            const QByteArray message = process.readAllStandardError();
            *addressBusy = message.contains("cannot listen on");
            error = QStringLiteral("vorsel-sim %1 did not get ready: %2")
                        .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(message));
            return false;
        }
        if (line.startsWith("pty ")) {
            pty = QString::fromLocal8Bit(line.mid(4));
        }
        if (line == "ready") {
            return true;
        }
    }
}

bool Simulator::startTcp(int lastOctet, const QStringList &moreArguments)
{
    return start(QStringList{QStringLiteral("--listen"), loopbackAddress(lastOctet)} +
                 moreArguments);
}

bool Simulator::startPty(const QStringList &moreArguments)
{
    return start(QStringList{QStringLiteral("--pty")} + moreArguments);
}

QByteArray Simulator::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine()) {
        if (process.state() != QProcess::Running ||
            !process.waitForReadyRead(int(deadline.remainingTime()))) {
            if (!process.canReadLine()) {
                return QByteArray();
            }
        }
    }
    QByteArray line = process.readLine();
    line.chop(1);
    return line;
}

QByteArray Simulator::control(const QByteArray &line)
{
    process.write(line + '\n');
    process.waitForBytesWritten(replyTimeoutMs);
    const QByteArray reply = readLine(replyTimeoutMs);
    if (reply.isNull()) {
        error = QStringLiteral("no reply from vorsel-sim to \"%1\"").arg(QString::fromLatin1(line));
    }
    return reply;
}

bool Simulator::steer(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        const QByteArray reply = control(line);
        if (reply != "ok" && !reply.startsWith("ok ")) {
            error = QStringLiteral("vorsel-sim answered \"%1\" to \"%2\"")
                        .arg(QString::fromLatin1(reply), QString::fromLatin1(line));
            return false;
        }
    }
    return true;
}

bool Simulator::fetchReceived(QByteArray *bytes)
{
    const QByteArray reply = control("received");
    if (reply != "ok" && !reply.startsWith("ok ")) {
        error = QStringLiteral("vorsel-sim answered \"%1\" to \"received\"")
                    .arg(QString::fromLatin1(reply));
        return false;
    }
    *bytes = QByteArray::fromHex(reply.mid(3));
    return true;
}

QByteArray Simulator::received()
{
    QByteArray bytes;
    if (!fetchReceived(&bytes)) {
        // Compares unequal to every byte string a program could have sent.
        return "(no record from vorsel-sim: " + error.toLatin1() + ")";
    }
    return bytes;
}

bool Simulator::waitForReceived(int count)
{
    const QDeadlineTimer deadline(replyTimeoutMs);
    QByteArray bytes;
    while (fetchReceived(&bytes) && bytes.size() < count) {
        if (deadline.hasExpired()) {
            error = QStringLiteral("vorsel-sim did not receive %1 bytes").arg(count);
            return false;
        }
        QThread::msleep(10);
    }
    return bytes.size() >= count;
}

bool Simulator::stop()
{
    process.terminate();
    if (!process.waitForFinished(replyTimeoutMs)) {
        error = QStringLiteral("vorsel-sim did not end on SIGTERM");
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

Vorsel::~Vorsel()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(replyTimeoutMs);
    }
    if (terminalSlave >= 0) {
        ::close(terminalSlave);
    }
    if (terminalMaster >= 0) {
        ::close(terminalMaster);
    }
}

bool Vorsel::start(const QStringList &arguments, Input input,
                   const QProcessEnvironment &environment)
{
    if (input == Input::Terminal) {
        terminalMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (terminalMaster < 0 || grantpt(terminalMaster) != 0 || unlockpt(terminalMaster) != 0 ||
            ptsname_r(terminalMaster, name, sizeof name) != 0) {
            error = QStringLiteral("no pseudo-terminal for standard input");
            return false;
        }
        // Held open here too, so that the terminal keeps its settings for the whole run.
        terminalSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings;
        if (terminalSlave < 0 || tcgetattr(terminalSlave, &settings) != 0) {
            error = QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(name));
            return false;
        }
        // A line-editing terminal, as a user has it, without echo into the master.
        settings.c_lflag |= ICANON;
        settings.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
        if (tcsetattr(terminalSlave, TCSANOW, &settings) != 0) {
            error = QStringLiteral("cannot set up %1").arg(QString::fromLocal8Bit(name));
            return false;
        }
        process.setStandardInputFile(QString::fromLocal8Bit(name));
    }
    process.setProgram(vorselProgram());
    process.setArguments(arguments);
    process.setProcessEnvironment(environment);
    process.start();
    if (!process.waitForStarted(replyTimeoutMs)) {
        error = QStringLiteral("vorsel did not start: %1").arg(process.errorString());
        return false;
    }
    return true;
}

bool Vorsel::write(const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        return true;
    }
    if (terminalMaster >= 0) {
        return ::write(terminalMaster, bytes.constData(), size_t(bytes.size())) ==
               ssize_t(bytes.size());
    }
    // One write, so that the lines arrive together.
    const bool written = process.write(bytes) == bytes.size();
    return process.waitForBytesWritten(replyTimeoutMs) && written;
}

bool Vorsel::startWithInputFile(const QStringList &arguments, const QString &path)
{
    process.setStandardInputFile(path);
    return start(arguments);
}

void Vorsel::endInput()
{
    if (terminalMaster >= 0) {
        termios settings;
        tcgetattr(terminalSlave, &settings);
        const char endOfFile = char(settings.c_cc[VEOF]);
        if (::write(terminalMaster, &endOfFile, 1) != 1) {
            error = QStringLiteral("cannot type the end of input");
        }
        return;
    }
    process.closeWriteChannel();
}

void Vorsel::collect()
{
    standardOutput += process.readAllStandardOutput();
    standardError += process.readAllStandardError();
}

bool Vorsel::waitForOutput(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    collect();
    while (standardOutput.size() < count && process.state() == QProcess::Running &&
           !deadline.hasExpired()) {
        process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        collect();
    }
    return standardOutput.size() >= count;
}

bool Vorsel::waitForText(const QByteArray &text, int occurrences, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    collect();
    while (standardOutput.count(text) < occurrences && process.state() == QProcess::Running &&
           !deadline.hasExpired()) {
        process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        collect();
    }
    return standardOutput.count(text) >= occurrences;
}

bool Vorsel::staysQuiet(int milliseconds)
{
    collect();
    const int before = standardOutput.size();
    if (process.state() == QProcess::Running) {
        process.waitForReadyRead(milliseconds);
    }
    collect();
    return standardOutput.size() == before;
}

bool Vorsel::waitForFinished(int timeoutMs)
{
    const bool ended =
        process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished(replyTimeoutMs);
    }
    collect();
    return ended && process.exitStatus() == QProcess::NormalExit;
}

QByteArray Vorsel::output()
{
    collect();
    return standardOutput;
}

QByteArray Vorsel::errorOutput()
{
    collect();
    return standardError;
}

Outcome runVorsel(const QStringList &arguments, const QProcessEnvironment &environment)
{
    Outcome outcome;
    Vorsel vorsel;
    if (!vorsel.start(arguments, Vorsel::Input::Pipe, environment)) {
        return outcome;
    }
    vorsel.endInput();
    outcome.finished = vorsel.waitForFinished();
    outcome.exitCode = vorsel.exitCode();
    outcome.standardOutput = vorsel.output();
    outcome.standardError = vorsel.errorOutput();
    return outcome;
}

} // namespace e2e

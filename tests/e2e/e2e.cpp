#include "e2e.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace e2e {

QString address(int lastOctet)
{
    // Anything else could reach a real unit or another test's simulator.
    if (lastOctet < 10 || lastOctet > 99) {
        qFatal("127.0.0.%d is outside the addresses of the end-to-end tests", lastOctet);
    }
    return ownLoopbackAddress(lastOctet);
}

QByteArray frame(int node, const QByteArray &message)
{
    if (node == 0) {
        return message + '\r';
    }
    const QByteArray checked = QByteArray::number(node).rightJustified(2, '0') + message;
    unsigned char sequence = 0;
    for (char character : checked) {
        sequence ^= static_cast<unsigned char>(character);
    }
    return '\x01' + checked + QByteArray::number(sequence, 16).toUpper().rightJustified(2, '0') +
           '\r';
}

QByteArray printable(const QByteArray &frame)
{
    return frame.mid(frame.startsWith('\x01') ? 1 : 0).chopped(1);
}

Vorsel::Vorsel() : environment(QProcessEnvironment::systemEnvironment())
{
    // Arguments and lines outside ASCII reach vorsel as the characters they are.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
}

Vorsel::~Vorsel()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(boundMs);
    }
    for (int descriptor : {terminal, terminalSlave}) {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
}

bool Vorsel::start(const QStringList &arguments, Input input, const QByteArray &file)
{
    QTemporaryFile content;
    if (input == File) {
        if (!content.open() || content.write(file) != file.size()) {
            return false;
        }
        content.close();
        process.setStandardInputFile(content.fileName());
    }
    if (input == Terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        termios settings;
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 ||
            ptsname_r(terminal, name, sizeof name) != 0 ||
            (terminalSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0 ||
            tcgetattr(terminalSlave, &settings) != 0) {
            return false;
        }
        // Line editing as a user has it, without echo into the master.
        settings.c_lflag |= ICANON;
        settings.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
        if (tcsetattr(terminalSlave, TCSANOW, &settings) != 0) {
            return false;
        }
        process.setStandardInputFile(QString::fromLocal8Bit(name));
    }
    const QStringList command = wrapper + QStringList{QStringLiteral(VORSEL_PROGRAM)} + arguments;
    process.setProcessEnvironment(environment);
    process.start(command.first(), command.mid(1));
    // The file is opened by the time the program has started.
    return process.waitForStarted(boundMs);
}

bool Vorsel::write(const QByteArray &bytes)
{
    if (terminal >= 0) {
        return ::write(terminal, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // One write, so that lines arrive together.
    return process.write(bytes) == bytes.size() && process.waitForBytesWritten(boundMs);
}

void Vorsel::endInput()
{
    termios settings;
    if (terminal >= 0 && tcgetattr(terminalSlave, &settings) == 0) {
        const char endOfFile = char(settings.c_cc[VEOF]);
        QVERIFY(::write(terminal, &endOfFile, 1) == 1);
    }
    process.closeWriteChannel();
}

void Vorsel::collect()
{
    output += process.readAllStandardOutput();
    errors += process.readAllStandardError();
}

bool Vorsel::waitForOutput(int size)
{
    const QDeadlineTimer deadline(boundMs);
    for (collect();
         output.size() < size && process.state() == QProcess::Running && !deadline.hasExpired();
         collect()) {
        process.waitForReadyRead(qMax(1, int(deadline.remainingTime())));
    }
    return output.size() >= size;
}

bool Vorsel::quietFor(int milliseconds)
{
    collect();
    const int before = output.size();
    if (process.state() == QProcess::Running) {
        process.waitForReadyRead(milliseconds);
    }
    collect();
    return output.size() == before;
}

bool Vorsel::finish()
{
    const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(boundMs);
    if (!ended) {
        process.kill();
        process.waitForFinished(boundMs);
    }
    collect();
    return ended && process.exitStatus() == QProcess::NormalExit;
}

void addColumns()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<int>("status");
    QTest::addColumn<Input>("input");
}

void addRow(const char *name, const QString &arguments, const QByteArrayList &steps,
            const QByteArrayList &sent, int status, Input input)
{
    addRow(name, arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts), steps, sent, status, input);
}

void addRow(const char *name, const QStringList &arguments, const QByteArrayList &steps,
            const QByteArrayList &sent, int status, Input input)
{
    QTest::newRow(name) << arguments << steps << sent << status << input;
}

void runRow(int lastOctet, const QStringList &wrapper)
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, steps);
    QFETCH(QByteArrayList, sent);
    QFETCH(int, status);
    QFETCH(Input, input);

    QStringList simulatorArguments;
    int node = 0; // over TCP every frame is unaddressed
    if (lastOctet != onPty) {
        simulatorArguments = QStringList{QStringLiteral("--listen"), address(lastOctet)};
    } else {
        const int nodeOption = arguments.indexOf(QStringLiteral("-n"));
        node = nodeOption < 0 ? 1 : arguments.value(nodeOption + 1).toInt();
        simulatorArguments = QStringList{QStringLiteral("--pty"), QStringLiteral("--node"),
                                         QString::number(node > 1 && node < 32 ? node : 1)};
    }
    Simulator simulator;
    QVERIFY(simulator.start(simulatorArguments));
    const QString target = lastOctet == onPty ? QString::fromLocal8Bit(simulator.readiness("pty"))
                                              : address(lastOctet);

    Vorsel vorsel;
    vorsel.wrapper = wrapper;
    QByteArray file;
    for (const QByteArray &step : steps) {
        file += step.startsWith('<') ? step.mid(1) : QByteArray();
    }
    QByteArray expected;
    QByteArrayList expectedErrors;
    QByteArray received;
    qint64 peak = -1;
    bool started = false;
    const QByteArray nominal = "127.0.0." + QByteArray::number(lastOctet);
    // The last step only makes sure that vorsel has started.
    for (QByteArray step : steps + QByteArrayList{"."}) {
        if (lastOctet != onPty) {
            step.replace(nominal, address(lastOctet).toLatin1());
        }
        const QByteArray text = step.mid(1);
        if (!started && !step.startsWith('!')) {
            started = vorsel.start(QStringList{QStringLiteral("--target"), target} + arguments,
                                   input, file);
            QVERIFY2(started, qPrintable(vorsel.process.errorString()));
        }
        if (step.startsWith('!')) {
            if (text == "quit") {
                received = simulator.received();
            }
            QVERIFY2(simulator.steer(text), step.constData());
            QVERIFY(text != "quit" || simulator.process.waitForFinished(boundMs));
        } else if (step.startsWith('<')) {
            QVERIFY(input == File || vorsel.write(text));
        } else if (step.startsWith('=')) {
            expected += text;
            QVERIFY2(vorsel.waitForOutput(expected.size()), vorsel.output.constData());
            QCOMPARE(vorsel.output.left(expected.size()), expected);
        } else if (step.startsWith('{')) {
            // One JSON line, parsed; its elapsed time can only be checked for its kind.
            const int start = expected.size();
            while (vorsel.output.indexOf('\n', start) < 0 &&
                   vorsel.waitForOutput(vorsel.output.size() + 1)) {
            }
            const QByteArray line =
                vorsel.output.mid(start, vorsel.output.indexOf('\n', start) + 1 - start);
            QJsonParseError error{};
            QJsonObject object = QJsonDocument::fromJson(line, &error).object();
            // Parsed, and without a raw control character (DEL and C1 too) for a terminal.
            QVERIFY2(error.error == QJsonParseError::NoError && line.endsWith('\n') &&
                         !QString::fromUtf8(line).contains(QRegularExpression("[\\x7f-\\x9f]")),
                     vorsel.output.constData());
            QVERIFY(!object.contains("elapsed_ms") || object.take("elapsed_ms").toInt(-1) >= 0);
            QVERIFY2(object == QJsonDocument::fromJson(step).object(), line.constData());
            expected += line;
        } else if (step.startsWith('?') || step.startsWith('%')) {
            expectedErrors << step;
        } else if (step == "~") {
            QVERIFY2(vorsel.quietFor(300), vorsel.output.constData());
        } else if (step.startsWith('#')) {
            QTRY_VERIFY_WITH_TIMEOUT(simulator.received().size() >= text.toInt(), boundMs);
        } else if (step == "$") {
            vorsel.endInput();
        } else if (step == "-" || step == "+" || step == "*") {
            const int signal = step == "-" ? SIGSTOP : step == "+" ? SIGCONT : SIGINT;
            QCOMPARE(::kill(pid_t(vorsel.process.processId()), signal), 0);
        } else if (step == "^") {
            const qint64 now = peakResidentKib(vorsel.process.processId());
            QVERIFY(now > 0);
            peak = peak < 0 ? now : peak;
            // What the socket may hold at once: the system's largest TCP receive buffer.
            QFile buffers(QStringLiteral("/proc/sys/net/ipv4/tcp_rmem"));
            QVERIFY(buffers.open(QIODevice::ReadOnly));
            const qint64 bound =
                buffers.readAll().simplified().split(' ').last().toLongLong() / 1024;
            // The sanitizers' allocator keeps freed memory: the peak says nothing there.
            QVERIFY2(sanitized || now - peak < bound + 16 * 1024,
                     qPrintable(QStringLiteral("peak grew from %1 to %2 kB").arg(peak).arg(now)));
        } else {
            QCOMPARE(step, QByteArray("."));
        }
    }
    QVERIFY2(vorsel.finish(), vorsel.output.constData());
    if (simulator.process.state() == QProcess::Running) {
        received = simulator.received();
    }
    QByteArray wire;
    for (const QByteArray &message : sent) {
        wire += message.startsWith('\x01') ? message : frame(node, message);
    }
    // Standard error first: a message there usually explains the rest.
    if (expectedErrors.isEmpty()) {
        QCOMPARE(vorsel.errors, QByteArray());
    }
    for (const QByteArray &error : expectedErrors) {
        QVERIFY2(vorsel.errors.contains(error.mid(1)) == error.startsWith('?'),
                 vorsel.errors.constData());
    }
    QCOMPARE(vorsel.output, expected);
    QCOMPARE(vorsel.process.exitCode(), status);
    QCOMPARE(received, wire);
}

} // namespace e2e

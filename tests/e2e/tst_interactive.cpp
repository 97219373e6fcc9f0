#include "e2esupport.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// Interactive mode over TCP: lines from a pipe or a terminal, the prompt, bad lines, the end of
// input, bursts of lines, time-outs and reconnection, a peer that goes away, responses that
// are reported once, and an endless response. Loopback addresses 127.0.0.40 to 59.
class InteractiveTest : public QObject
{
    Q_OBJECT

private slots:
    void pipeSession_data();
    void pipeSession();
    void terminalSession_data();
    void terminalSession();
    void errorAbort_data();
    void errorAbort();
    void burstOfLines_data();
    void burstOfLines();
    void timeoutAndReconnection_data();
    void timeoutAndReconnection();
    void reconnectionRefused();
    void lineWithoutLink_data();
    void lineWithoutLink();
    void peerGoesAway_data();
    void peerGoesAway();
    void reportedOnce_data();
    void reportedOnce();
    void endlessResponse();
    void charactersOutsideLatin1();
    void oneShotWithTerminal();
    void fileAsInput_data();
    void fileAsInput();
};

Q_DECLARE_METATYPE(e2e::Vorsel::Input)

namespace {

const QByteArray modelReport = "V640-SIM01\n";
const QByteArray firmwareReport = "1.05\n";
const QByteArray macReport = "00:00:5E:00:53:01\n";
const QByteArray prompt = "> ";

QStringList withTarget(int lastOctet, const QStringList &arguments)
{
    return QStringList{QStringLiteral("--target"), e2e::loopbackAddress(lastOctet)} + arguments;
}

QByteArray frames(const QByteArrayList &messages)
{
    QByteArray bytes;
    for (const QByteArray &message : messages) {
        bytes += e2e::unaddressedFrame(message);
    }
    return bytes;
}

// The largest resident size the process has had so far, in kB; -1 when unknown.
qint64 peakResidentKilobytes(qint64 processId)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(processId));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// A unit whose listening socket holds one waiting connection at most. Once a waiting
// connection fills it, the kernel drops further connection attempts: they hang until the
// program's own time-out, as towards a host that does not answer, and no socket error tells
// the program anything.
class NarrowListener
{
public:
    NarrowListener() = default;
    NarrowListener(const NarrowListener &) = delete;
    NarrowListener &operator=(const NarrowListener &) = delete;
    ~NarrowListener()
    {
        for (int descriptor : {listener, filler}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
    }

    bool listen(int lastOctet)
    {
        address = sockaddr_in{};
        address.sin_family = AF_INET;
        address.sin_port = htons(7090);
        const QByteArray host = e2e::loopbackAddress(lastOctet).toLatin1();
        const int reuse = 1;
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return listener >= 0 && inet_pton(AF_INET, host.constData(), &address.sin_addr) == 1 &&
               setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0 &&
               e2e::retryWhileAddressBusy([this]() {
                   return ::bind(listener, reinterpret_cast<const sockaddr *>(&address),
                                 sizeof address) == 0;
               }) &&
               ::listen(listener, 0) == 0;
    }

    // The next connection, or -1 when none came within the bound.
    int accept()
    {
        pollfd readable{listener, POLLIN, 0};
        if (poll(&readable, 1, e2e::replyTimeoutMs) != 1) {
            return -1;
        }
        return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }

    // Occupies the one waiting place with a connection of our own.
    bool fill()
    {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Bounds the connection wait, in case the place is taken after all.
        const timeval bound{e2e::replyTimeoutMs / 1000, 0};
        return filler >= 0 &&
               setsockopt(filler, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) == 0 &&
               ::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }

    // Takes the filling connection off the queue, so that the next attempt gets through.
    bool free()
    {
        const int accepted = accept();
        if (accepted < 0) {
            return false;
        }
        ::close(accepted);
        return true;
    }

private:
    sockaddr_in address{};
    int listener = -1;
    int filler = -1;
};

// Reads from a connection up to and including the first CR.
QByteArray readFrame(int descriptor)
{
    QByteArray bytes;
    char character = 0;
    pollfd readable{descriptor, POLLIN, 0};
    while (!bytes.endsWith('\r') && poll(&readable, 1, e2e::replyTimeoutMs) == 1 &&
           ::read(descriptor, &character, 1) == 1) {
        bytes += character;
    }
    return bytes;
}

// True when the peer closed the connection within the bound.
bool waitForClose(int descriptor)
{
    char byte = 0;
    pollfd readable{descriptor, POLLIN, 0};
    return poll(&readable, 1, e2e::replyTimeoutMs) == 1 && ::read(descriptor, &byte, 1) == 0;
}

} // namespace

void InteractiveTest::pipeSession_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    // Written in one go, then the end of input.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
    const QByteArray longest = "10" + QByteArray(270, 'A');

    QTest::newRow("one line") << QStringList{} << QByteArrayList{} << QByteArray("1401\n")
                              << frames({"1401"}) << modelReport << 0;
    QTest::newRow("no input") << QStringList{} << QByteArrayList{} << QByteArray() << QByteArray()
                              << QByteArray() << 0;
    QTest::newRow("last line without line end")
        << QStringList{} << QByteArrayList{} << QByteArray("1401") << frames({"1401"})
        << modelReport << 0;
    QTest::newRow("line ended by CR LF")
        << QStringList{} << QByteArrayList{} << QByteArray("1401\r\n") << frames({"1401"})
        << modelReport << 0;
    QTest::newRow("empty lines") << QStringList{} << QByteArrayList{} << QByteArray("\n1401\n\n")
                                 << frames({"1401"}) << modelReport << 0;
    QTest::newRow("line of 273 characters")
        << QStringList{} << QByteArrayList{} << "10" + QByteArray(271, 'A') + "\n1401\n"
        << frames({"1401"}) << modelReport << 0;
    QTest::newRow("line of 272 characters") << QStringList{} << QByteArrayList{} << longest + '\n'
                                            << frames({longest}) << QByteArray(270, 'A') + '\n'
                                            << 0;
    QTest::newRow("line with a tab")
        << QStringList{} << QByteArrayList{} << QByteArray("14\t01\n1402\n") << frames({"1402"})
        << firmwareReport << 0;
    QTest::newRow("line with DEL") << QStringList{} << QByteArrayList{}
                                   << QByteArray("14\x7f"
                                                 "01\n1402\n")
                                   << frames({"1402"}) << firmwareReport << 0;
    QTest::newRow("line with a CR inside")
        << QStringList{} << QByteArrayList{} << QByteArray("14\r01\n1402\n") << frames({"1402"})
        << firmwareReport << 0;
    QTest::newRow("one character") << QStringList{} << QByteArrayList{} << QByteArray("Z\n")
                                   << frames({"Z"}) << QByteArray("NG: 14\n") << 0;
    QTest::newRow("code the unit does not know")
        << QStringList{} << QByteArrayList{} << QByteArray("ZZ\n") << frames({"ZZ"})
        << QByteArray("NG: 14\n") << 0;
    QTest::newRow("end of input while a response is awaited")
        << QStringList{} << QByteArrayList{"fault delay 300"} << QByteArray("1401\n")
        << frames({"1401"}) << modelReport << 0;
    QTest::newRow("error end without error-abort")
        << QStringList{} << QByteArrayList{"fault no-tag on"} << QByteArray("010000000004\n1401\n")
        << frames({"010000000004", "1401"}) << "NG: 72\n" + modelReport << 0;
    QTest::newRow("two responses at level 2")
        << QStringList{"-o", "2"} << QByteArrayList{} << QByteArray("1401\n1402\n")
        << frames({"1401", "1402"}) << QByteArray("1401\t00V640-SIM01\n1402\t000105\n") << 0;
    QTest::newRow("node number given over TCP")
        << QStringList{"-n", "5"} << QByteArrayList{} << QByteArray("1401\n") << frames({"1401"})
        << modelReport << 0;
}

void InteractiveTest::pipeSession()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(40), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(40, arguments)), qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.write(input));
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), status);
    QCOMPARE(simulator.received(), wire);
}

void InteractiveTest::terminalSession_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    // Each typed after the prompt that the one before brought back.
    QTest::addColumn<QByteArrayList>("lines");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("no line") << QStringList{} << QByteArrayList{} << QByteArrayList{}
                             << QByteArray() << prompt;
    QTest::newRow("one line") << QStringList{} << QByteArrayList{} << QByteArrayList{"1401\n"}
                              << frames({"1401"}) << prompt + modelReport + prompt;
    QTest::newRow("empty line") << QStringList{} << QByteArrayList{}
                                << QByteArrayList{"\n", "1401\n"} << frames({"1401"})
                                << prompt + prompt + modelReport + prompt;
    QTest::newRow("control character")
        << QStringList{} << QByteArrayList{}
        << QByteArrayList{"14\x02"
                          "01\n",
                          "1401\n"}
        << frames({"1401"}) << prompt + prompt + modelReport + prompt;
    QTest::newRow("line of 273 characters")
        << QStringList{} << QByteArrayList{} << QByteArrayList{"10" + QByteArray(271, 'B') + "\n"}
        << QByteArray() << prompt + prompt;
    QTest::newRow("error end without error-abort")
        << QStringList{} << QByteArrayList{"fault no-tag on"}
        << QByteArrayList{"010000000004\n", "1402\n"} << frames({"010000000004", "1402"})
        << prompt + "NG: 72\n" + prompt + firmwareReport + prompt;
    QTest::newRow("level 1") << QStringList{"-o", "1"} << QByteArrayList{}
                             << QByteArrayList{"1402\n"} << frames({"1402"})
                             << prompt + "000105\n" + prompt;
}

void InteractiveTest::terminalSession()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArrayList, lines);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(41), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(41, arguments), e2e::Vorsel::Input::Terminal),
             qPrintable(vorsel.errorString()));
    QVERIFY2(vorsel.waitForText(prompt, 1), vorsel.output().constData());
    for (int index = 0; index < lines.size(); ++index) {
        QVERIFY(vorsel.write(lines.at(index)));
        QVERIFY2(vorsel.waitForText(prompt, index + 2), vorsel.output().constData());
    }
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), wire);
}

void InteractiveTest::errorAbort_data()
{
    QTest::addColumn<e2e::Vorsel::Input>("input");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("pipe") << e2e::Vorsel::Input::Pipe << QStringList{"-a"}
                          << QByteArray("NG: 72\n");
    QTest::newRow("pipe at level 1")
        << e2e::Vorsel::Input::Pipe << QStringList{"-a", "-o", "1"} << QByteArray("72\n");
    // The prompt comes once more before the run ends.
    QTest::newRow("terminal") << e2e::Vorsel::Input::Terminal << QStringList{"--error-abort"}
                              << prompt + "NG: 72\n" + prompt;
    QTest::newRow("terminal at level 2")
        << e2e::Vorsel::Input::Terminal << QStringList{"-a", "-o", "2"}
        << prompt + "010000000004\t72\n" + prompt;
}

void InteractiveTest::errorAbort()
{
    QFETCH(e2e::Vorsel::Input, input);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(42), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"fault no-tag on"}), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(42, arguments), input), qPrintable(vorsel.errorString()));
    // The input stays open: the error alone ends the run, before the second line.
    QVERIFY(vorsel.write("010000000004\n1401\n"));
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 2);
    QCOMPARE(simulator.received(), frames({"010000000004"}));
}

void InteractiveTest::burstOfLines_data()
{
    QTest::addColumn<e2e::Vorsel::Input>("input");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");

    const QByteArray lastCommandReport = "command code: 1403\n";
    QTest::newRow("pipe") << e2e::Vorsel::Input::Pipe << QByteArray("1401\n1402\n1403\n15\n")
                          << frames({"1401", "1402", "1403", "15"})
                          << modelReport + firmwareReport + macReport + lastCommandReport;
    QTest::newRow("pipe with empty and bad lines")
        << e2e::Vorsel::Input::Pipe << QByteArray("1401\n\n14\t01\n\n1403\n")
        << frames({"1401", "1403"}) << modelReport + macReport;
    QTest::newRow("terminal") << e2e::Vorsel::Input::Terminal << QByteArray("1401\n1402\n1403\n")
                              << frames({"1401", "1402", "1403"})
                              << prompt + modelReport + prompt + firmwareReport + prompt +
                                     macReport + prompt;
}

void InteractiveTest::burstOfLines()
{
    QFETCH(e2e::Vorsel::Input, input);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(43), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(43, {}), input), qPrintable(vorsel.errorString()));
    // All lines in one write; the input stays open until every answer is in.
    QVERIFY(vorsel.write(lines));
    QVERIFY2(vorsel.waitForOutput(output.size()), vorsel.output().constData());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(simulator.received(), wire);

    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
}

void InteractiveTest::timeoutAndReconnection_data()
{
    QTest::addColumn<e2e::Vorsel::Input>("input");
    QTest::addColumn<QByteArray>("output");

    // The second line gets no answer; the third goes out over a new connection.
    QTest::newRow("terminal") << e2e::Vorsel::Input::Terminal
                              << prompt + modelReport + prompt + prompt + macReport + prompt;
    QTest::newRow("pipe") << e2e::Vorsel::Input::Pipe << modelReport + macReport;
}

void InteractiveTest::timeoutAndReconnection()
{
    QFETCH(e2e::Vorsel::Input, input);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(44), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"fault ignore-every 2"}), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(44, {"-i", "1000"}), input), qPrintable(vorsel.errorString()));
    if (input == e2e::Vorsel::Input::Terminal) {
        QVERIFY(vorsel.waitForText(prompt, 1));
        for (const QByteArray line : {"1401\n", "1402\n", "1403\n"}) {
            const int prompts = vorsel.output().count(prompt);
            QVERIFY(vorsel.write(line));
            QVERIFY2(vorsel.waitForText(prompt, prompts + 1), vorsel.output().constData());
        }
    } else {
        // The third line waits in the input while the second one times out.
        QVERIFY(vorsel.write("1401\n1402\n1403\n"));
        QVERIFY2(vorsel.waitForOutput(output.size()), vorsel.output().constData());
    }
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(simulator.received(), frames({"1401", "1402", "1403"}));

    // The time-out changed no status.
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
}

void InteractiveTest::reconnectionRefused()
{
    QTcpServer unit;
    QVERIFY2(e2e::listenAsUnit(&unit, 45), qPrintable(unit.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(45, {"-i", "1000"})), qPrintable(vorsel.errorString()));
    QVERIFY(unit.waitForNewConnection(e2e::replyTimeoutMs));
    QTcpSocket *connection = unit.nextPendingConnection();
    QVERIFY(vorsel.write("1401\n"));
    QVERIFY(connection->waitForReadyRead(e2e::replyTimeoutMs));
    QCOMPARE(connection->readAll(), e2e::unaddressedFrame("1401"));
    // No answer, and nobody listens any more when the time-out reconnects.
    unit.close();

    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), QByteArray());
    QCOMPARE(vorsel.exitCode(), 4);
}

void InteractiveTest::lineWithoutLink_data()
{
    QTest::addColumn<bool>("unitReachable");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");

    QTest::newRow("link reopened") << true << prompt + prompt + firmwareReport + prompt << 0;
    QTest::newRow("link cannot be reopened") << false << prompt + prompt << 4;
}

void InteractiveTest::lineWithoutLink()
{
    QFETCH(bool, unitReachable);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    NarrowListener unit;
    QVERIFY(unit.listen(46));
    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(46, {"-i", "1000"}), e2e::Vorsel::Input::Terminal),
             qPrintable(vorsel.errorString()));
    const int firstConnection = unit.accept();
    QVERIFY(firstConnection >= 0);
    QVERIFY(unit.fill());

    // The line times out, and the reconnection hangs until its own time-out: no link is left.
    QVERIFY(vorsel.waitForText(prompt, 1));
    QVERIFY(vorsel.write("1401\n"));
    QCOMPARE(readFrame(firstConnection), e2e::unaddressedFrame("1401"));
    QVERIFY(waitForClose(firstConnection));
    ::close(firstConnection);
    QVERIFY2(vorsel.waitForText(prompt, 2), vorsel.output().constData());

    if (unitReachable) {
        QVERIFY(unit.free());
    }
    QVERIFY(vorsel.write("1402\n"));
    if (unitReachable) {
        // The line itself reopens the link and goes out over it.
        const int secondConnection = unit.accept();
        QVERIFY(secondConnection >= 0);
        QCOMPARE(readFrame(secondConnection), e2e::unaddressedFrame("1402"));
        QCOMPARE(::write(secondConnection, "000105\r", 7), ssize_t(7));
        QVERIFY2(vorsel.waitForText(prompt, 3), vorsel.output().constData());
        vorsel.endInput();
        QVERIFY(vorsel.waitForFinished());
        ::close(secondConnection);
    } else {
        QVERIFY(vorsel.waitForFinished());
    }
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), status);
}

void InteractiveTest::peerGoesAway_data()
{
    QTest::addColumn<bool>("whileLineAwaited");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("while a line is awaited") << true << modelReport;
    QTest::newRow("while a response is awaited") << false << QByteArray();
}

void InteractiveTest::peerGoesAway()
{
    QFETCH(bool, whileLineAwaited);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(47), qPrintable(simulator.errorString()));
    if (!whileLineAwaited) {
        QVERIFY2(simulator.steer({"fault close on"}), qPrintable(simulator.errorString()));
    }

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(47, {})), qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.write("1401\n"));
    if (whileLineAwaited) {
        QVERIFY2(vorsel.waitForOutput(output.size()), vorsel.output().constData());
        QVERIFY2(simulator.stop(), qPrintable(simulator.errorString()));
    }

    // The input stays open: the closed connection alone ends the run.
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 4);
}

void InteractiveTest::reportedOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    // Control lines between the first answer and the second line.
    QTest::addColumn<QByteArrayList>("between");
    // Output after the first line, after the control lines, and after the second line.
    QTest::addColumn<QByteArrayList>("outputs");

    const QStringList levelOne{"-o", "1"};
    const QByteArrayList rawOutputs{"00V640-SIM01\n", "", "000105\n"};
    QTest::newRow("line feed behind each response")
        << levelOne << QByteArrayList{"fault trailing 0A"} << QByteArrayList{} << rawOutputs;
    QTest::newRow("frame behind each response")
        << levelOne << QByteArrayList{"fault trailing 30300D"} << QByteArrayList{} << rawOutputs;
    QTest::newRow("late line feed")
        << levelOne << QByteArrayList{} << QByteArrayList{"send 0A"} << rawOutputs;
    QTest::newRow("late line feed at level 0")
        << QStringList{} << QByteArrayList{} << QByteArrayList{"send 0A"}
        << QByteArrayList{modelReport, "", firmwareReport};
    QTest::newRow("late line feed at level 2")
        << QStringList{"-o", "2"} << QByteArrayList{} << QByteArrayList{"send 0A"}
        << QByteArrayList{"1401\t00V640-SIM01\n", "", "1402\t000105\n"};
    // Bytes pending when the next command goes out belong to no response.
    QTest::newRow("late partial frame")
        << levelOne << QByteArrayList{} << QByteArrayList{"send 3030"} << rawOutputs;
    // Bytes after a report begin a new response, which is reported when it completes.
    QTest::newRow("late frame") << levelOne << QByteArrayList{} << QByteArrayList{"send 303058590D"}
                                << QByteArrayList{"00V640-SIM01\n", "00XY\n", "000105\n"};
    QTest::newRow("late frame in pieces")
        << levelOne << QByteArrayList{} << QByteArrayList{"send 3030", "send 58590D"}
        << QByteArrayList{"00V640-SIM01\n", "00XY\n", "000105\n"};
}

void InteractiveTest::reportedOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArrayList, between);
    QFETCH(QByteArrayList, outputs);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(48), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(48, arguments)), qPrintable(vorsel.errorString()));
    QByteArray expected = outputs.at(0);
    QVERIFY(vorsel.write("1401\n"));
    QVERIFY(vorsel.waitForOutput(expected.size()));
    QVERIFY(vorsel.staysQuiet(200));
    QCOMPARE(vorsel.output(), expected);

    QVERIFY2(simulator.steer(between), qPrintable(simulator.errorString()));
    expected += outputs.at(1);
    QVERIFY(vorsel.waitForOutput(expected.size()));
    QVERIFY(vorsel.staysQuiet(200));
    QCOMPARE(vorsel.output(), expected);

    expected += outputs.at(2);
    QVERIFY(vorsel.write("1402\n"));
    QVERIFY(vorsel.waitForOutput(expected.size()));
    QVERIFY(vorsel.staysQuiet(200));
    QCOMPARE(vorsel.output(), expected);

    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), expected);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), frames({"1401", "1402"}));
}

void InteractiveTest::endlessResponse()
{
    // Far beyond what any frame needs; the sanitizers' allocator keeps freed memory, so the
    // peak size says nothing there.
    const int floodSize = e2e::sanitizedBuild() ? 10000000 : 40000000;
    const qint64 allowedGrowthKilobytes = 16 * 1024;

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(49), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(49, {"-o", "1"})), qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.write("1402\n"));
    QVERIFY(vorsel.waitForOutput(7));
    const qint64 peakBefore = peakResidentKilobytes(vorsel.processId());

    QVERIFY2(simulator.steer({"flood " + QByteArray::number(floodSize)}),
             qPrintable(simulator.errorString()));
    QVERIFY(vorsel.write("1401\n"));
    QVERIFY2(simulator.waitForReceived(10), qPrintable(simulator.errorString()));
    // Goes out behind the whole flood: the response ends, and it is not a frame.
    QVERIFY2(simulator.steer({"send 0D"}), qPrintable(simulator.errorString()));
    QVERIFY(vorsel.waitForOutput(8, e2e::processTimeoutMs));
    QCOMPARE(vorsel.output(), QByteArray("000105\n\n"));
    const qint64 peakAfter = peakResidentKilobytes(vorsel.processId());

    QVERIFY(vorsel.write("1402\n"));
    QVERIFY(vorsel.waitForOutput(15));
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), QByteArray("000105\n\n000105\n"));
    QCOMPARE(vorsel.exitCode(), 0);

    if (!e2e::sanitizedBuild()) {
        QVERIFY(peakBefore > 0 && peakAfter > 0);
        QVERIFY2(peakAfter - peakBefore < allowedGrowthKilobytes,
                 qPrintable(QStringLiteral("peak resident size grew from %1 kB to %2 kB")
                                .arg(peakBefore)
                                .arg(peakAfter)));
    }
}

void InteractiveTest::charactersOutsideLatin1()
{
    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(50), qPrintable(simulator.errorString()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(50, {}), e2e::Vorsel::Input::Pipe, environment),
             qPrintable(vorsel.errorString()));
    // Neither may go out, not even with a stand-in character in place of the one typed.
    QVERIFY(vorsel.write(QStringLiteral("10\u20ac\n10caf\u00e9\n10ok\n").toUtf8()));
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), QByteArray("ok\n"));
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), frames({"10ok"}));
}

void InteractiveTest::oneShotWithTerminal()
{
    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(51), qPrintable(simulator.errorString()));

    // The prompt belongs to interactive mode only.
    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(51, {"--get-model-number"}), e2e::Vorsel::Input::Terminal),
             qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), modelReport);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), frames({"1401"}));
}

void InteractiveTest::fileAsInput_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("two lines") << QByteArray("1401\n1402\n") << frames({"1401", "1402"})
                               << modelReport + firmwareReport;
    QTest::newRow("bad line between") << QByteArray("1401\n1\t2\n1402") << frames({"1401", "1402"})
                                      << modelReport + firmwareReport;
    QTest::newRow("empty file") << QByteArray() << QByteArray() << QByteArray();
}

void InteractiveTest::fileAsInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);

    QTemporaryFile input;
    QVERIFY(input.open());
    QCOMPARE(input.write(content), qint64(content.size()));
    input.close();
    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(52), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.startWithInputFile(withTarget(52, {}), input.fileName()),
             qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), wire);
}

QTEST_GUILESS_MAIN(InteractiveTest)
#include "tst_interactive.moc"

#include "e2e.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using e2e::addRow;
using e2e::Terminal;

// Interactive mode over TCP: lines from a pipe, a terminal or a file, the prompt, bad lines, the
// end of input, bursts of lines, error-abort, time-outs and reopening the link.
class InteractiveTest : public QObject
{
    Q_OBJECT

private slots:
    void sessions_data();
    void sessions() { e2e::runRow(20); }
    void lineWithoutLink_data();
    void lineWithoutLink();
    void closedDescriptors_data();
    // Started with standard input and output closed, as a careless service manager may do: the
    // link must not take their numbers, or reports would go to the unit.
    void closedDescriptors() { e2e::runRow(22, {"sh", "-c", "exec \"$0\" \"$@\" <&- >&-"}); }
    // Results that cannot be written end the run with 1, and nothing more goes to the unit.
    void fullDisk_data();
    void fullDisk() { e2e::runRow(23, {"sh", "-c", "exec \"$0\" \"$@\" >/dev/full"}); }
    void readerGone_data() { fullDisk_data(); }
    void readerGone()
    {
        e2e::runRow(24, {"python3", "-c",
                         "import os, signal, sys\n"
                         "signal.signal(signal.SIGPIPE, signal.SIG_DFL)\n"
                         "read, write = os.pipe()\n"
                         "os.close(read)\n"
                         "os.dup2(write, 1)\n"
                         "os.execv(sys.argv[1], sys.argv[1:])"});
    }
};

void InteractiveTest::sessions_data()
{
    e2e::addColumns();
    const QByteArray model = "V640-SIM01\n";
    const QByteArray firmware = "1.05\n";
    const QByteArray mac = "00:00:5E:00:53:01\n";
    const QByteArray noTag = "!fault no-tag on";
    const QByteArray longest = "10" + QByteArray(270, 'A');

    addRow("empty lines, CR LF, no line end at the end", "",
           {"<\n1401\r\n\n1402", "$", "=" + model + firmware}, {"1401", "1402"});
    addRow("no input", "", {"$"});
    // A code no operation sends, typed as it is: the generic form.
    addRow("code not in the table", "", {"!respond 3030310D", "<99\n", "$", "=OK: 1\n"}, {"99"});
    addRow("lines that build no frame", "",
           {"<" + longest + "A\n14\t01\n14\17701\n14\r01\n1402\n", "$", "=" + firmware}, {"1402"},
           3);
    addRow("line of 272 characters", "", {"<" + longest + "\n", "$", "=" + longest.mid(2) + "\n"},
           {longest});
    addRow("characters outside Latin-1", "",
           {"<10\xe2\x82\xac\n10caf\xc3\xa9\n10ok\n", "$", "=ok\n"}, {"10ok"}, 3);
    addRow("file", "", {"<1401\n1\t2\n1402", "=" + model + firmware}, {"1401", "1402"}, 3,
           e2e::File);
    addRow("terminal: empty and bad lines", "",
           {"=> ", "<\n", "=> ", "<14\00201\n", "=> ", "<" + longest + "A\n", "=> ", "<1401\n",
            "=" + model + "> ", "$"},
           {"1401"}, 3, Terminal);
    addRow("terminal: error end at level 1", "-o 1",
           {noTag, "=> ", "<010000000004\n", "=72\n> ", "<1402\n", "=000105\n> ", "$"},
           {"010000000004", "1402"}, 0, Terminal);
    addRow("terminal, one-shot: no prompt", "--get-model-number", {"=" + model}, {"1401"}, 0,
           Terminal);
    // The input stays open: the error alone ends the run, before the second line.
    addRow("terminal: error-abort at level 2", "-a -o 2",
           {noTag, "<010000000004\n1401\n", "=> 010000000004\t72\n> "}, {"010000000004"}, 2,
           Terminal);
    // Lines written at once get every answer before the input ends.
    addRow("burst", "",
           {"<1401\n\n14\t01\n1402\n1403\n15\n",
            "=" + model + firmware + mac + "command code: 1403\n", "$"},
           {"1401", "1402", "1403", "15"}, 3);
    addRow("terminal: burst", "",
           {"<1401\n1402\n1403\n", "=> " + model + "> " + firmware + "> " + mac + "> ", "$"},
           {"1401", "1402", "1403"}, 0, Terminal);
    // The second line gets no answer; the third waits and goes out over a new connection.
    addRow("time-out and reconnection", "-i 1000",
           {"!fault ignore-every 2", "<1401\n1402\n1403\n", "=" + model + mac, "$"},
           {"1401", "1402", "1403"}, 4);
    addRow("peer closes while a line is awaited", "", {"<1401\n", "=" + model, "!quit"}, {"1401"},
           4);
    // Half a line must not hold up the link's events.
    addRow("peer closes while half a line is typed", "", {"<14", "~", "!quit"}, {}, 4);
}

void InteractiveTest::lineWithoutLink_data()
{
    QTest::addColumn<QString>("queue");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");

    // After the time-out the reconnection fails; the next line reopens the link once.
    QTest::newRow("reopened") << "freed" << QByteArray("> > 1.05\n> ") << 4;
    QTest::newRow("not reopened") << "full" << QByteArray("> > ") << 4;
    QTest::newRow("reconnection refused") << "closed" << QByteArray("> > ") << 4;
}

void InteractiveTest::lineWithoutLink()
{
    QFETCH(QString, queue);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    // A unit whose listening socket holds one waiting connection. Once a connection of ours
    // takes that place, the kernel drops further attempts: they hang until vorsel's time-out
    // with no socket error, as towards a host that does not answer.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(7090);
    const int reuse = 1;
    QVERIFY(inet_pton(AF_INET, qPrintable(e2e::address(21)), &address.sin_addr) == 1 &&
            setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
    QTcpServer unit;
    QVERIFY(::listen(listener, 0) == 0 && unit.setSocketDescriptor(listener));
    // Takes the next connection off the queue, and no other.
    const auto take = [&unit]() {
        unit.pauseAccepting();
        QTcpSocket *connection =
            unit.waitForNewConnection(e2e::boundMs) ? unit.nextPendingConnection() : nullptr;
        unit.pauseAccepting();
        return connection;
    };

    e2e::Vorsel vorsel;
    QVERIFY(vorsel.start({"--target", e2e::address(21), "-i", "1000"}, Terminal));
    QTcpSocket *first = take();
    QVERIFY(first != nullptr);
    QTcpSocket filler;
    if (queue == "closed") {
        unit.close();
    } else {
        filler.connectToHost(e2e::address(21), 7090);
        QVERIFY(filler.waitForConnected(e2e::boundMs));
    }
    QVERIFY(vorsel.waitForOutput(2));
    QVERIFY(vorsel.write("1401\n"));
    QByteArray frames;
    QTRY_COMPARE_WITH_TIMEOUT(frames += first->readAll(), QByteArray("1401\r"), e2e::boundMs);
    QVERIFY(first->state() == QAbstractSocket::UnconnectedState ||
            first->waitForDisconnected(e2e::boundMs));
    if (queue != "closed") {
        QVERIFY2(vorsel.waitForOutput(4), vorsel.output.constData());
        // Taking our own connection off the queue makes room.
        QVERIFY(queue != "freed" || take() != nullptr);
        QVERIFY(vorsel.write("1402\n"));
        if (queue == "freed") {
            QTcpSocket *second = take();
            QVERIFY(second != nullptr);
            QTRY_COMPARE_WITH_TIMEOUT(frames += second->readAll(), QByteArray("1401\r1402\r"),
                                      e2e::boundMs);
            QVERIFY(second->write("000105\r") == 7 && second->waitForBytesWritten(e2e::boundMs));
            QVERIFY(vorsel.waitForOutput(output.size()));
            vorsel.endInput();
        }
    }
    QVERIFY(vorsel.finish());
    QCOMPARE(vorsel.errors, QByteArray());
    QCOMPARE(vorsel.output, output);
    QCOMPARE(vorsel.process.exitCode(), status);
}

void InteractiveTest::closedDescriptors_data()
{
    e2e::addColumns();
    addRow("interactive", "", {});
    addRow("one-shot", "--get-model-number", {}, {"1401"});
}

void InteractiveTest::fullDisk_data()
{
    e2e::addColumns();
    addRow("one-shot", "-r 1", {}, {"010000000004"}, 1);
    addRow("interactive", "", {"<1401\n1402\n"}, {"1401"}, 1);
}

QTEST_GUILESS_MAIN(InteractiveTest)
#include "tst_interactive.moc"

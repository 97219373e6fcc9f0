// The unit: each command's response and effect on the state, each fault mode switched through
// the control channel between two commands, and the state file: loaded at start, saved after
// every change, always whole.
#include "simharness.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <csignal>
#include <numeric>

namespace {

// The whole tag as "get tag" gives it, byte n holding n, with `hex` put in at byte address
// `address`.
QByteArray tagWith(int address, const QByteArray &hex)
{
    QByteArray bytes(8 * 17, '\0');
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes.toHex().toUpper().replace(2 * address, hex.size(), hex);
}

const QByteArray tag = tagWith(0, "");
const QByteArray data = "0011223344556677FFEEDDCCBBAA9988";
const QByteArray model = "00V640-SIM01\r";
const QByteArray tagWrite = "0300000000045555555555555555\r";
const QByteArray noTag = "fault no-tag on";

void row(const char *name, const QByteArray &setup, const QByteArray &message,
         const QByteArray &response, const QByteArray &field = "tag", const QByteArray &value = tag)
{
    QTest::newRow(name) << setup << message << response << field << value;
}

void faultRow(const char *name, bool overPty, const QByteArray &control, const QByteArray &sent,
              const QByteArray &expected, int beforePause = 0, int pauseMs = 0)
{
    QTest::newRow(name) << overPty << control << sent << expected << beforePause << pauseMs;
}

} // namespace

class UnitTest : public QObject
{
    Q_OBJECT
    Sim shared;
    Link program;
    QTemporaryDir directory;
    QFile file{directory.filePath(QStringLiteral("unit.state"))};
    const QString stateOptions = "--listen 127.0.0.120 --control 0 --state " + file.fileName();

    QByteArray contents()
    {
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        file.close();
        return bytes;
    }

private slots:
    // Every fault given at start, then cleared.
    void initTestCase()
    {
        QVERIFY(shared.start("--listen 127.0.0.110 --port 0 --pty --control 0 --no-tag-for 5 "
                             "--delay 50 --split 3:20 --ignore-every 4 --ignore-next 2 --close "
                             "--bad-byte --lost-write --trailing 0a0d"));
        QCOMPARE(shared.control("faults"),
                 QByteArray("ok no-tag=5 delay=50 split=3,20 ignore-every=4 ignore-next=2 "
                            "close=on bad-byte=on lost-write=on trailing=0A0D"));
        QCOMPARE(shared.control("fault clear"), ok);
        QVERIFY(program.open(shared.ready("tcp")));
    }

    void init()
    {
        QCOMPARE(shared.control("set tag " + tag), ok);
        file.remove();
    }
    // A row that failed half-way leaves no fault on for the next.
    void cleanup() { QCOMPARE(shared.control("fault clear"), ok); }
    void cleanupTestCase() { shared.finish(); }

    // The control line that switches the fault on, the bytes sent over TCP or the pty, all that
    // comes back (with a pause after the first bytes when pauseMs > 0).
    void fault_data()
    {
        QTest::addColumn<bool>("overPty");
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("beforePause");
        QTest::addColumn<int>("pauseMs");
        faultRow("no tag: read", false, noTag, "010000000004\r", "72\r");
        faultRow("no tag: byte-write", false, noTag, "04000011\r", "72\r");
        faultRow("no tag: format first", false, noTag, "01000000000x\r", "14\r");
        faultRow("no tag: model number", false, noTag, "1401\r", model);
        faultRow("delay", false, "fault delay 800", "1401\r", model, 0, 300);
        faultRow("split", false, "fault split 5 300", "1401\r", model, 5, 100);
        faultRow("no tag for 2 commands", false, "fault no-tag 2",
                 "010000000004\r" + tagWrite + "010000000004\r",
                 "72\r72\r00" + tag.left(16) + '\r');
        faultRow("lost write", false, "fault lost-write on", tagWrite + "010000000004\r",
                 "00\r00" + tag.left(16) + '\r');
        faultRow("ignore the next 2", false, "fault ignore-next 2", "10A\r10B\r10C\r", "00C\r");
        faultRow("ignore every 3rd", false, "fault ignore-every 3",
                 "10A\r10B\r" + tagWrite + "10D\r", "00A\r00B\r00D\r");
        faultRow("close", false, "fault close on", tagWrite, "");
        faultRow("close over a pty", true, "fault close on", addressed(1, tagWrite.chopped(1)), "");
        faultRow("bad byte, addressed", true, "fault bad-byte on", addressed(1, "1401"),
                 addressed(1, model.chopped(1)).insert(17, '\x80'));
        faultRow("trailing bytes", false, "fault trailing 3031FF", "10\r", "00\r01\xFF");
        faultRow("respond once", false, "respond 3737", "1401\r1401\r", "77" + model);
        // Far more than the socket buffers hold: control is answered while it goes out.
        faultRow("flood", false, "flood 10000000", "1401\r", QByteArray(10000000, 'A'), 1);
        // The pty gets these bytes as well; opening it drops them.
        faultRow("send", false, "send 30300D", "", "00\r");
    }

    void fault()
    {
        QFETCH(bool, overPty);
        QFETCH(QByteArray, control);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, expected);
        QFETCH(int, beforePause);
        QFETCH(int, pauseMs);
        Link pty;
        QVERIFY(!overPty || pty.open(shared.ready("pty")));
        Link &link = overPty ? pty : program;
        QCOMPARE(link.exchange("10BEFORE"), QByteArray("00BEFORE\r"));
        QCOMPARE(shared.control(control), ok);
        link.send(sent);
        QCOMPARE(link.readCount(beforePause), expected.left(beforePause));
        QVERIFY(pauseMs == 0 || link.quietFor(pauseMs));
        // Answered while a response is held back or under way.
        QCOMPARE(shared.control("get tag"), "ok " + tag);
        QCOMPARE(link.readCount(expected.size() - beforePause), expected.mid(beforePause));
        if (control == "fault close on" && !overPty) {
            QVERIFY(link.closedByPeer());
            link.close();
            QVERIFY(link.open(shared.ready("tcp")));
        }
        QCOMPARE(shared.control("fault clear"), ok);
        QCOMPARE(link.exchange("10AFTER"), QByteArray("00AFTER\r"));
        QCOMPARE(shared.control("get tag"), "ok " + tag);
    }

    // A control line first, the message and its response, then a field and its value.
    void command_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("value");
        const QByteArray ip = "192168001200";
        row("read, bit below page 1", "", "010000000002", "7B");
        row("read, empty mask", "", "010000000000", "7B");
        row("read, lower-case mask", "", "01000000000c", "14");
        row("write pages 16, 17", "", "020000060000" + data, "00", "tag", tagWith(120, data));
        row("write, data for 1 of 2 pages", "", "020000000018" + data.left(16), "14");
        row("same-write", "", "03000007FFFC" + data.left(16), "00", "tag",
            data.left(16).repeated(17));
        row("byte-write", "", "040006A1A2A3A4", "00", "tag", tagWith(6, "A1A2A3A4"));
        row("byte-write past the end", "", "040087B1B2", "7B");
        row("byte-write, odd digits", "", "040000B1B", "14");
        row("last command, failed", "", "A300999000000000", "9A", "last-command", "A300");
        row("history", "set history 0001 0002 0003", "16", "00000100020003", "history",
            "0002 0003 0003");
        row("history, failure", "set history 0000 0000 0000", "99", "14", "history",
            "0001 0000 0001");
        row("history, at most FFFF", "set history FFFF FFFE 0001", "10", "00", "history",
            "FFFF FFFF 0001");
        row("clear history", "set history 0005 0004 0001", "17", "00", "history", "0000 0000 0000");
        row("web password, too long", "set password x", "A2" + QByteArray(17, 'p'), "14",
            "password", "x");
        row("set IP address", "", "A300010000000001", "00", "ip-rom", "010000000001");
        row("IP address octet over 255", "set ip-rom " + ip, "A300256000000001", "9A", "ip-rom",
            ip);
        // The command answered still reads the page as it was; the next one finds it changed.
        row("arrival after 1 command", "arrive 1 0 A1A2A3A4A5A6A7A8", "010000000004",
            "00" + tag.left(16), "tag", tagWith(0, "A1A2A3A4A5A6A7A8"));
        row("IP address with a letter", "set ip-rom " + ip, "A30019216800120X", "14", "ip-rom", ip);
        row("code 13", "", "13", "7E");
        row("unknown code", "", "99", "14");
        row("single character", "", "1", "14");
        row("parameter where none belongs", "", "1401X", "14");
    }

    void command()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, value);
        QVERIFY(setup.isEmpty() || shared.control(setup) == "ok");
        QCOMPARE(program.exchange(message), response + '\r');
        QCOMPARE(shared.control("get " + field), "ok " + value);
    }

    void nakResendsThePreviousResponse()
    {
        program.send(addressed(1, "010000000004"));
        const QByteArray response = program.readUntil();
        QCOMPARE(response, addressed(1, "00" + tag.left(16)));
        // A response built anew would hold the changed page.
        QCOMPARE(shared.control("page 0 FFFFFFFFFFFFFFFF"), ok);
        program.send(addressed(1, "12"));
        QCOMPARE(program.readUntil(), response);
        QCOMPARE(program.exchange("99"), QByteArray("14\r"));
        QCOMPARE(program.exchange("12"), QByteArray("14\r"));
    }

    void malformedFileStopsTheStartAndIsKept()
    {
        const QByteArray malformed = "# by hand\n\nmodel X\n\x01\xFF 0000000000000000\n";
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(malformed) > 0);
        file.close();
        Sim sim;
        QVERIFY(!sim.start(stateOptions));
        QCOMPARE(sim.stop(), 1);
        // Quoted, what is not printable is escaped.
        QVERIFY2(sim.errors().contains("line 4: unknown field \\x01\\xFF\n"),
                 sim.errors().constData());
        QCOMPARE(contents(), malformed);
    }

    // Read over and over while every command saves, and after a kill: never a part of a file;
    // what it holds comes back at the next start.
    void stateIsAlwaysWholeAndSurvivesAKill()
    {
        constexpr int wholeFileLines = 1 + 13 + 1 + 17;
        Sim sim;
        QVERIFY(sim.start(stateOptions));
        QCOMPARE(sim.control("set model V640-KEPT 7"), ok);
        Link client(sim.ready("tcp"));
        QCOMPARE(client.exchange("A2secret word"), QByteArray("00\r"));
        QByteArray burst;
        for (int index = 0; index < 300; ++index) {
            burst += "03000007FFFC" + QByteArray::number(index).rightJustified(16, '0') + '\r';
        }
        client.send(burst);
        const QDeadlineTimer deadline(waitMs);
        for (int answers = 0; answers < 150;) {
            QVERIFY(!deadline.hasExpired());
            QCOMPARE(contents().count('\n'), wholeFileLines);
            answers += client.readUntil("\r", 0).isEmpty() ? 0 : 1;
        }
        QCOMPARE(sim.stop(SIGKILL), -1);
        QCOMPARE(contents().count('\n'), wholeFileLines);
        Sim restarted;
        QVERIFY(restarted.start(stateOptions));
        const QByteArray reloaded = restarted.control("get tag");
        QCOMPARE(reloaded, "ok " + reloaded.mid(3, 16).repeated(17));
        QCOMPARE(restarted.control("get model") + restarted.control("get password"),
                 QByteArray("ok V640-KEPT 7ok secret word"));
    }
};

QTEST_GUILESS_MAIN(UnitTest)
#include "tst_unit.moc"

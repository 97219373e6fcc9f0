// The unit: each command's response and effect on the state, and each fault mode switched
// through the control channel between two commands.
#include "simharness.h"

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

void commandRow(const char *name, const QByteArray &setup, const QByteArray &message,
                const QByteArray &response, const QByteArray &field = "tag",
                const QByteArray &value = tag)
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
    Sim sim;
    Link program;

private slots:
    // Every fault given at start, then cleared.
    void initTestCase()
    {
        QVERIFY(sim.start("--listen 127.0.0.110 --port 0 --pty --control 0 --no-tag --delay 50 "
                          "--split 3:20 --ignore-every 4 --close --bad-byte --trailing 0a0d"));
        QCOMPARE(sim.control("faults"),
                 QByteArray("ok no-tag=on delay=50 split=3,20 ignore-every=4 "
                            "close=on bad-byte=on trailing=0A0D"));
        QCOMPARE(sim.control("fault clear"), ok);
        QVERIFY(program.open(sim.ready("tcp")));
    }

    void init() { QCOMPARE(sim.control("set tag " + tag), ok); }
    void cleanupTestCase() { sim.finish(); }

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
        faultRow("no tag: read", false, "fault no-tag on", "010000000004\r", "72\r");
        faultRow("no tag: write", false, "fault no-tag on", "0200000000040011223344556677\r",
                 "72\r");
        faultRow("no tag: same-write", false, "fault no-tag on", tagWrite, "72\r");
        faultRow("no tag: byte-write", false, "fault no-tag on", "04000011\r", "72\r");
        faultRow("no tag: format first", false, "fault no-tag on", "01000000000x\r", "14\r");
        faultRow("no tag: model number", false, "fault no-tag on", "1401\r", model);
        faultRow("delay", false, "fault delay 800", "1401\r", model, 0, 300);
        faultRow("split", false, "fault split 5 300", "1401\r", model, 5, 100);
        faultRow("ignore every 3rd", false, "fault ignore-every 3",
                 "10A\r10B\r" + tagWrite + "10D\r", "00A\r00B\r00D\r");
        faultRow("close", false, "fault close on", tagWrite, "");
        faultRow("close over a pty", true, "fault close on", addressed(1, tagWrite.chopped(1)), "");
        faultRow("bad byte", false, "fault bad-byte on", "1401\r", "00V640-SIM01\x80\r");
        faultRow("bad byte, addressed", true, "fault bad-byte on", addressed(1, "1401"),
                 addressed(1, model.chopped(1)).insert(17, '\x80'));
        faultRow("trailing bytes", false, "fault trailing 3031FF", "10\r", "00\r01\xFF");
        faultRow("respond once", false, "respond 3737", "1401\r1401\r", "77" + model);
        // Far more than the socket buffers hold: control is answered while it goes out.
        faultRow("flood", false, "flood 10000000", "1401\r", QByteArray(10000000, 'A'), 1);
        faultRow("send", false, "send 30300D", "", "00\r");
        faultRow("send over a pty", true, "send 30300D", "", "00\r");
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
        QVERIFY(!overPty || pty.open(sim.ready("pty")));
        Link &link = overPty ? pty : program;
        QCOMPARE(link.exchange("10BEFORE"), QByteArray("00BEFORE\r"));
        QCOMPARE(sim.control(control), ok);
        link.send(sent);
        QCOMPARE(link.readCount(beforePause), expected.left(beforePause));
        QVERIFY(pauseMs == 0 || link.quietFor(pauseMs));
        // Answered while a response is held back or under way.
        QCOMPARE(sim.control("get tag"), "ok " + tag);
        QCOMPARE(link.readCount(expected.size() - beforePause), expected.mid(beforePause));
        if (control == "fault close on" && !overPty) {
            QVERIFY(link.closedByPeer());
            link.close();
            QVERIFY(link.open(sim.ready("tcp")));
        }
        QCOMPARE(sim.control("fault clear"), ok);
        QCOMPARE(link.exchange("10AFTER"), QByteArray("00AFTER\r"));
        QCOMPARE(sim.control("get tag"), "ok " + tag);
    }

    // A field set first, the message and its response, then a field and its value.
    void command_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("value");
        const QByteArray ip = "192168001200";
        commandRow("read pages 1, 2, 17", "", "01000004000C", "00" + tag.left(32) + tag.right(16));
        commandRow("read pages 1 to 16", "", "01000003FFFC", "00" + tag.left(256));
        commandRow("read 17 pages", "", "01000007FFFC", "7B");
        commandRow("read, bit below page 1", "", "010000000002", "7B");
        commandRow("read, bit above page 17", "", "010000080000", "7B");
        commandRow("read, empty mask", "", "010000000000", "7B");
        commandRow("read, lower-case mask", "", "01000000000c", "14");
        commandRow("write pages 16, 17", "", "020000060000" + data, "00", "tag",
                   tagWith(120, data));
        commandRow("write, data for 1 of 2 pages", "", "020000000018" + data.left(16), "14");
        commandRow("write, non-hex data", "", "020000000004001122334455667G", "14");
        commandRow("same-write", "", "03000007FFFC" + data.left(16), "00", "tag",
                   data.left(16).repeated(17));
        commandRow("byte-write", "", "040006A1A2A3A4", "00", "tag", tagWith(6, "A1A2A3A4"));
        commandRow("byte-write, last byte", "", "040086B1B2", "00", "tag", tagWith(0x86, "B1B2"));
        commandRow("byte-write past the end", "", "040087B1B2", "7B");
        commandRow("byte-write, odd digits", "", "040000B1B", "14");
        commandRow("test", "", "10hello unit 1", "00hello unit 1");
        commandRow("model", "model V640-TEST 2", "1401", "00V640-TEST 2");
        commandRow("firmware", "firmware 010A", "1402", "00010A");
        commandRow("MAC address", "mac 001122AABBCC", "1403", "00001122AABBCC");
        commandRow("DIP switch", "dip 01", "1410", "0001");
        commandRow("DIP IP address", "ip-dip 010000000001", "1411", "00010000000001");
        commandRow("DIP subnet mask", "mask-dip 255255000000", "1412", "00255255000000");
        commandRow("ROM IP address", "ip-rom 172016005009", "1413", "00172016005009");
        commandRow("ROM subnet mask", "mask-rom 255255255128", "1414", "00255255255128");
        commandRow("memory status", "memory 00", "1420", "0000");
        commandRow("antenna status", "antenna 00", "1421", "0000");
        commandRow("noise level", "noise 42", "40", "0042");
        commandRow("last command", "last-command 7F", "15", "007F", "last-command", "15");
        commandRow("last command, failed", "", "A300999000000000", "9A", "last-command", "A300");
        commandRow("history", "history 0001 0002 0003", "16", "00000100020003", "history",
                   "0002 0003 0003");
        commandRow("history, failure", "history 0000 0000 0000", "99", "14", "history",
                   "0001 0000 0001");
        commandRow("history, at most FFFF", "history FFFF FFFE 0001", "10", "00", "history",
                   "FFFF FFFF 0001");
        commandRow("clear history", "history 0005 0004 0001", "17", "00", "history",
                   "0000 0000 0000");
        commandRow("reset", "", "7F", "00");
        commandRow("web password", "", "A2my pass 1", "00", "password", "my pass 1");
        commandRow("web password, too long", "password x", "A2" + QByteArray(17, 'p'), "14",
                   "password", "x");
        commandRow("set IP address", "", "A300010000000001", "00", "ip-rom", "010000000001");
        commandRow("set subnet mask", "", "A301255255255000", "00", "mask-rom", "255255255000");
        commandRow("IP address octet over 255", "ip-rom " + ip, "A300256000000001", "9A", "ip-rom",
                   ip);
        commandRow("IP address with a letter", "ip-rom " + ip, "A30019216800120X", "14", "ip-rom",
                   ip);
        commandRow("code 13", "", "13", "7E");
        commandRow("unknown code", "", "99", "14");
        commandRow("single character", "", "1", "14");
        commandRow("parameter where none belongs", "", "1401X", "14");
    }

    void command()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, response);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, value);
        QVERIFY(setup.isEmpty() || sim.control("set " + setup) == "ok");
        QCOMPARE(program.exchange(message), response + '\r');
        QCOMPARE(sim.control("get " + field), "ok " + value);
    }

    void nakResendsThePreviousResponse()
    {
        program.send(addressed(1, "010000000004"));
        const QByteArray response = program.readUntil();
        QCOMPARE(response, addressed(1, "00" + tag.left(16)));
        // A response built anew would hold the changed page.
        QCOMPARE(sim.control("page 0 FFFFFFFFFFFFFFFF"), ok);
        program.send(addressed(1, "12"));
        QCOMPARE(program.readUntil(), response);
        QCOMPARE(program.exchange("99"), QByteArray("14\r"));
        QCOMPARE(program.exchange("12"), QByteArray("14\r"));
    }
};

QTEST_GUILESS_MAIN(UnitTest)
#include "tst_unit.moc"

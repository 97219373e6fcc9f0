// Exchanges with one simulator, steered through its standard input between them: how a byte
// stream becomes frames, bad input, each fault mode, what commands change and how the unit
// answers those it refuses. Each command's normal answer is left to the end-to-end tests.
#include "simharness.h"

#include <QElapsedTimer>

#include <numeric>
#include <tuple>

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
const QByteArray tagField = "tag " + tag;
const QByteArray model = "00V640-SIM01\r";
const QByteArray tagWrite = "0300000000045555555555555555\r";
const QByteArray readPage1 = "010000000004\r";
// Page 0 of a passing tag as a read of page 1 returns it.
QByteArray idPage(int id)
{
    return "00" + QByteArray::number(id).rightJustified(16, '0') + '\r';
}
const QByteArray faultsOff = "ok no-tag=off delay=0 split=0,0 ignore-every=0 ignore-next=0 "
                             "close=off bad-byte=off lost-write=off trailing=off repeat=0,0 "
                             "busy=off delay-next=0,0";

// A control line and its reply (once it has it), or bytes sent over "tcp" or "pty" and all that
// comes back, the last byte no sooner than `leastMs` after the sending.
struct Step
{
    QByteArray where;
    QByteArray sent;
    QByteArray expected = "ok";
    int leastMs = 0;
};

void row(const char *name, const QByteArray &control, const QByteArray &sent,
         const QByteArray &expected, const QByteArray &field = tagField, bool overPty = false,
         int pieceSize = 0)
{
    QTest::newRow(name) << control << sent << expected << field << overPty << pieceSize;
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class FrameTest : public QObject
{
    Q_OBJECT
    Sim sim;
    Link program;

private slots:
    // The control language first: every fault given at start; switched off one by one, on again
    // by control lines, all off at once; lines it refuses change nothing, and one too long for it
    // does not hold up the next. For the faults that only the end-to-end tests switch on (delay,
    // split, close over TCP, bad byte, trailing, send) this is all that is left here.
    void initTestCase()
    {
        const QByteArray on = "ok no-tag=5 delay=50 split=3,20 ignore-every=4 ignore-next=2 "
                              "close=on bad-byte=on lost-write=on trailing=0A0D repeat=3,40 "
                              "busy=on delay-next=2,60";
        QVERIFY(sim.start("--listen 127.0.0.110 --port 0 --pty --no-tag-for 5 --delay 50 --split "
                          "3:20 --ignore-every 4 --ignore-next 2 --close --bad-byte --lost-write "
                          "--trailing 0a0d --repeat 3:40 --busy --delay-next 2:60"));
        QCOMPARE(sim.control("faults"), on);
        const QByteArray state = sim.control("state");
        const QList<std::tuple<QByteArray, QByteArrayList, QByteArray>> steps{
            {"ok",
             {"fault no-tag off", "fault delay 0", "fault split 0 0", "fault ignore-every 0",
              "fault ignore-next 0", "fault close off", "fault bad-byte off",
              "fault lost-write off", "fault trailing off", "fault repeat 0 40", "fault busy off",
              "fault delay-next 0 60"},
             faultsOff},
            {"ok",
             {"fault no-tag 5", "fault delay 50", "fault split 3 20", "fault ignore-every 4",
              "fault ignore-next 2", "fault close on", "fault bad-byte on", "fault lost-write on",
              "fault trailing 0a0d", "fault repeat 3 40", "fault busy on", "fault delay-next 2 60"},
             on},
            {"ok", {"fault clear"}, faultsOff},
            {"error",
             {"respond " + QByteArray(17 << 20, '4'), "", "explode", "fault no-tag yes",
              "fault delay -1", "fault split 4", "fault trailing ABC", "fault repeat 1 2 3",
              "fault delay-next 5", "fault busy", "respond XYZ1", "flood 0", "send 3G",
              "page 17 0011223344556677", "set firmware 0A09", "set mac 001122aabbcc",
              "set history 0001 0001"},
             faultsOff},
            {"error usage: ",
             {"pass 1 1", "pass 1 1 0", "pass 1 1 1000000", "pass 1000001 0 1", "pass off 1",
              "passing 1", "tag 0"},
             faultsOff}};
        for (const auto &[reply, lines, faults] : steps) {
            for (const QByteArray &line : lines) {
                QVERIFY2(sim.control(line).startsWith(reply), line.left(40).constData());
            }
            QCOMPARE(sim.control("faults"), faults);
        }
        QCOMPARE(sim.control("state"), state);
        QCOMPARE(sim.control("passing"), "ok off");
    }
    // A connection of its own, so that a row that failed half-way leaves nothing for the next.
    void init()
    {
        QVERIFY(program.open(sim.readiness("tcp")));
        QCOMPARE(sim.control("set tag " + tag), "ok");
        QCOMPARE(sim.control("clear-received"), "ok");
    }
    // Nor a fault.
    void cleanup() { QCOMPARE(sim.control("fault clear"), "ok"); }
    void cleanupTestCase() { sim.finish(); }

    // A control line (answered ok), bytes sent over TCP or the pty (in pieces of pieceSize), all
    // that comes back, a field and its value. Then, with the fault cleared, the unit answers on,
    // never having grown much, and its record of what it received holds the latest 8 MiB.
    void exchanges_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<bool>("overPty");
        QTest::addColumn<int>("pieceSize");
        row("addressed, one byte at a time", "", "\00101140105\r", "\0010100V640-SIM011E\r",
            tagField, false, 1);
        row("addressed to another node", "", "\00102140106\r", "");
        row("lower-case FCS", "", "\0010110Z5a\r", "");
        row("wrong FCS", "", "\0010110Z5B\r", "");
        row("too short for node and FCS", "", "\00101\r", "");
        row("three frames at once", "", "10A\r10B\r\0010110C43\r", "00A\r00B\r\0010100C42\r");
        row("CR LF line ends, lone CR", "", "10A\r\n\r10B\r\n", "00A\r00B\r");
        row("largest frame, parameter too long", "", "10" + QByteArray(275, 'L') + '\r', "14\r");
        // Had the tail of a long run (here in a later piece) been taken for a frame, it would
        // get an answer.
        row("oversized", "", "10" + QByteArray(400, 'Y') + '\r', "", tagField, false, 300);
        row("oversized, addressed", "", "\0010110" + QByteArray(280, 'Y') + "00\r", "");
        row("32 MiB without CR", "", QByteArray(32 << 20, 'X') + '\r', "");
        row("NUL", "", QByteArray("10A\0B\r", 6), "14\r");
        row("line feed inside, pty", "", "10A\nB\r", "14\r", tagField, true);

        // A malformed command is refused for its form first.
        row("no tag", "fault no-tag on", "1401\r" + readPage1 + "04000011\r01000000000x\r",
            model + "72\r72\r14\r");
        row("ignore the next 2", "fault ignore-next 2", "10A\r" + tagWrite + "10C\r", "00C\r");
        row("close over a pty", "fault close on", "\00101030000000004555555555555555506\r", "",
            tagField, true);
        row("respond once", "respond 3737", "1401\r1401\r", "77" + model);
        row("repeat every 3rd", "fault repeat 3", "10A\r10B\r10C\r10D\r10E\r10F\r",
            "00A\r00B\r00C\r00C\r00D\r00E\r00F\r00F\r");
        row("repeat as it went out", "fault repeat 1\nfault bad-byte on\nfault trailing 0A",
            "10A\r", "00A\x80\r\n00A\x80\r\n");
        // Far more than the socket buffers hold: control is answered while it goes out.
        row("flood", "flood 10000000", "1401\r", QByteArray(10000000, 'A'));
        row("pass: a tag written comes back", "pass 1 0 5 6 5",
            "040008AA\r01000000000C\r01000000000C\r",
            "00\r" + idPage(6).chopped(1) + QByteArray(16, '0') + '\r' + idPage(5).chopped(1) +
                "AA" + QByteArray(14, '0') + '\r');
        // The commands answered still read the page as it was; the next one finds it changed.
        row("arrival after 2 commands", "arrive 2 0 A1A2A3A4A5A6A7A8", readPage1.repeated(2),
            ("00" + tag.left(16) + '\r').repeated(2), "tag " + tagWith(0, "A1A2A3A4A5A6A7A8"));

        const QByteArray data = "0011223344556677FFEEDDCCBBAA9988";
        row("read, bit below page 1", "", "010000000002\r", "7B\r");
        row("read, empty mask", "", "010000000000\r", "7B\r");
        row("read, lower-case mask", "", "01000000000c\r", "14\r");
        row("write pages 16, 17", "", "020000060000" + data + '\r', "00\r",
            "tag " + tagWith(120, data));
        row("write, data for 1 of 2 pages", "", "020000000018" + data.left(16) + '\r', "14\r");
        row("same-write", "", "03000007FFFC" + data.left(16) + '\r', "00\r",
            "tag " + data.left(16).repeated(17));
        row("byte-write", "", "040006A1A2A3A4\r", "00\r", "tag " + tagWith(6, "A1A2A3A4"));
        row("byte-write past the end", "", "040087B1B2\r", "7B\r");
        row("byte-write, odd digits", "", "040000B1B\r", "14\r");
        row("last command, failed", "", "A300999000000000\r", "9A\r", "last-command A300");
        row("history, failure", "set history 0000 0000 0000", "99\r", "14\r",
            "history 0001 0000 0001");
        row("history, at most FFFF", "set history FFFF FFFE 0001", "10\r", "00\r",
            "history FFFF FFFF 0001");
        row("clear history", "set history 0005 0004 0001", "17\r", "00\r",
            "history 0000 0000 0000");
        row("web password, too long", "set password x", "A2" + QByteArray(17, 'p') + '\r', "14\r",
            "password x");
        row("set IP address", "", "A300010000000001\r", "00\r", "ip-rom 010000000001");
        row("IP address octet over 255", "set ip-rom 192168001200", "A300256000000001\r", "9A\r",
            "ip-rom 192168001200");
        row("IP address with a letter", "set ip-rom 192168001200", "A30019216800120X\r", "14\r",
            "ip-rom 192168001200");
        row("code 13", "", "13\r", "7E\r");
        row("parameter where none belongs", "", "1401X\r", "14\r");
    }

    void exchanges()
    {
        QFETCH(QByteArray, control);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, field);
        QFETCH(bool, overPty);
        QFETCH(int, pieceSize);
        Link pty;
        QVERIFY(!overPty || pty.open(sim.readiness("pty")));
        Link &link = overPty ? pty : program;
        for (const QByteArray &line : control.split('\n')) {
            QVERIFY2(line.isEmpty() || sim.control(line) == "ok", line.constData());
        }
        const qint64 before = sim.peakResidentKib(true);
        const int step = pieceSize > 0 ? pieceSize : sent.size();
        for (int position = 0; position < sent.size(); position += step) {
            link.send(sent.mid(position, step));
            usleep(pieceSize > 0 ? 5000 : 0);
        }
        // Answered while a response is under way.
        QCOMPARE(sim.control("get model"), "ok V640-SIM01");
        QCOMPARE(link.readCount(expected.size()), expected);
        const int space = field.indexOf(' ');
        QCOMPARE(sim.control("get " + field.left(space)), "ok " + field.mid(space + 1));
        QCOMPARE(sim.control("fault clear"), "ok");
        QCOMPARE(link.exchange("10AFTER"), QByteArray("00AFTER\r"));
        QVERIFY(sim.grewLittleSince(before));
        QCOMPARE(sim.control("received"),
                 "ok " + (sent + "10AFTER\r").right(8 << 20).toHex().toUpper());
    }

    // Exchanges with control lines between them: late answers, and tags passing the antenna.
    void sequences_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::newRow("repeat, the copy later")
            << QList<Step>{{"control", "fault repeat 1 400"}, {"tcp", "10A\r", "00A\r00A\r", 400}};
        // The command that comes while the first answer waits is lost; the next is answered.
        QTest::newRow("busy") << QList<Step>{{"control", "set history 0000 0000 0000"},
                                             {"control", "fault busy on"},
                                             {"control", "fault delay-next 1 300"},
                                             {"tcp", "10A\r10B\r", "00A\r", 300},
                                             {"tcp", "10C\r", "00C\r"},
                                             {"control", "get history", "ok 0002 0002 0000"}};
        QTest::newRow("delay-next 2") << QList<Step>{{"control", "fault delay-next 2 300"},
                                                     {"tcp", "10A\r", "00A\r", 300},
                                                     {"tcp", "10B\r", "00B\r", 300}};
        // Other commands count too; the own tag comes back at the end.
        QTest::newRow("pass 3 tags") << QList<Step>{
            {"control", "pass 2 1 1 2 3"},
            {"control", "passing", "ok tag=1 left=2"},
            {"tcp", readPage1, idPage(1)},
            {"control", "passing", "ok tag=1 left=1"},
            {"tcp", readPage1.repeated(3) + "1401\r", idPage(1) + "72\r" + idPage(2) + model},
            {"control", "passing", "ok empty left=1"},
            {"tcp", readPage1.repeated(4), "72\r" + idPage(3).repeated(2) + "72\r"},
            {"control", "passing", "ok done"},
            {"tcp", readPage1, "72\r"},
            {"control", "tag 2", "ok " + idPage(2).mid(2, 16) + QByteArray(256, '0')},
            {"control", "tag 4", "error tag 4 has not come into the field"},
            {"control", "pass off"},
            {"tcp", readPage1, "00" + tag.left(16) + '\r'}};
        QTest::newRow("pass, a tag for good")
            << QList<Step>{{"control", "pass 0 3 7 8"},
                           {"tcp", readPage1.repeated(3), idPage(7).repeated(3)},
                           {"control", "passing", "ok tag=7 left=forever"},
                           {"control", "fault clear"},
                           {"control", "passing", "ok off"}};
        // An hour for the first: the second comes well within the harness's bound.
        QTest::newRow("delay-next, then none")
            << QList<Step>{{"control", "fault delay-next 1 3600000"},
                           {"tcp", "10A\r", ""},
                           {"control", "faults", faultsOff},
                           {"pty", "10B\r", "00B\r"}};
    }

    void sequences()
    {
        QFETCH(QList<Step>, steps);
        Link pty(sim.readiness("pty"));
        for (const Step &step : steps) {
            if (step.where == "control") {
                QTRY_COMPARE_WITH_TIMEOUT(sim.control(step.sent), step.expected, simulatorBoundMs);
                continue;
            }
            Link &link = step.where == "pty" ? pty : program;
            QElapsedTimer clock;
            clock.start();
            link.send(step.sent);
            QCOMPARE(link.readCount(step.expected.size()), step.expected);
            QVERIFY(clock.elapsed() >= step.leastMs);
        }
    }
};

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frames.moc"

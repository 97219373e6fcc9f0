#include "e2e.h"

#include <QTcpServer>

using e2e::addRow;

// One-shot runs over TCP: each operation's frame and report, the output levels, error-abort,
// several operations at once, the bounds of every setting and parameter, and the command line.
class OneShotTest : public QObject
{
    Q_OBJECT

private slots:
    void reports_data();
    void reports() { e2e::runRow(10); }
    void refusals_data();
    void refusals() { e2e::runRow(11); }
    void commandLine_data();
    void commandLine();
};

namespace {

const QByteArray ok = "=OK: \n";
const QByteArray model = "=V640-SIM01\n";
const QByteArray noTag = "!fault no-tag on";
const QByteArray page1 = "!page 0 0123456789ABCDEF"; // the simulator counts pages from 0
const QByteArray page2 = "!page 1 FEDCBA9876543210";
const QByteArray page17 = "!page 16 00112233AABBCCDD";
const QByteArray report1 = " 1: 01 23 45 67 89 AB CD EF\n";
const QByteArray report2 = " 2: FE DC BA 98 76 54 32 10\n";
const QByteArray report17 = "17: 00 11 22 33 AA BB CC DD\n";

} // namespace

void OneShotTest::reports_data()
{
    e2e::addColumns();
    const QString all16 = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16 " + QString(256, '0');
    addRow("read pages 17 and 1", "--read 17,1", {page1, page17, "=" + report1 + report17},
           {"010000040004"});
    addRow("read all 17 pages", "-r 17,16,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1,1", {"=NG: 7b\n"},
           {"01000007FFFC"});
    addRow("write, tag data in two lower-case arguments",
           "-w 1,2 0011aabbccddeeff 8899aabbccddeeff", {ok},
           {"02000000000C0011AABBCCDDEEFF8899AABBCCDDEEFF"});
    addRow("write 16 pages", "--write " + all16, {ok}, {"02000003FFFC" + QByteArray(256, '0')});
    addRow("same-write", "-s 2,4 a1b2c3d4 e5f60718", {ok}, {"030000000028A1B2C3D4E5F60718"});
    addRow("byte-write at 87", "-b 87 5a", {ok}, {"0400875A"});
    addRow("byte-write at a", "-b a ff", {ok}, {"04000AFF"});
    addRow("byte-write 128 bytes", "-b 0 " + QString(256, 'F'), {ok},
           {"040000" + QByteArray(256, 'F')});
    addRow("test keeps the case", "--test aBc", {"=aBc\n"}, {"10aBc"});
    addRow("test of 270 characters", "--test " + QString(270, 'A'),
           {"=" + QByteArray(270, 'A') + "\n"}, {"10" + QByteArray(270, 'A')});
    addRow("test without text", "--test=", {"=\n"}, {"10"});
    addRow("model number", "--get-model-number", {"!set model XR-17 B", "=XR-17 B\n"}, {"1401"});
    addRow("firmware 0110: a hexadecimal minor", "--get-firmware-version",
           {"!set firmware 0110", "=1.16\n"}, {"1402"});
    addRow("MAC address", "--get-mac-address", {"!set mac 001122AABBCC", "=00:11:22:AA:BB:CC\n"},
           {"1403"});
    addRow("DIP switch 02", "--get-dip-switch-status", {"!set dip 02", "=enabled\n"}, {"1410"});
    addRow("IP address on DIP switch", "--get-ip-address-on-dip-switch",
           {"!set ip-dip 192168001200", "=192.168.1.200\n"}, {"1411"});
    addRow("subnet mask on DIP switch", "--get-subnet-mask-on-dip-switch",
           {"!set mask-dip 255255255000", "=255.255.255.0\n"}, {"1412"});
    addRow("IP address in ROM, a part above 255", "--get-ip-address-in-rom",
           {"!set ip-rom 010000000256", "=NG: ffffffffffffffff\n"}, {"1413"});
    addRow("subnet mask in ROM", "--get-subnet-mask-in-rom",
           {"!set mask-rom 255255000000", "=255.255.0.0\n"}, {"1414"});
    addRow("memory 00", "--get-memory-status", {"!set memory 00", "=error\n"}, {"1420"});
    addRow("antenna 01", "--get-antenna-connection-status", {"!set antenna 01", "=correctly\n"},
           {"1421"});
    addRow("last command A300", "--get-last-command",
           {"!set last-command A300", "=command code: a300\n"}, {"15"});
    addRow("history", "--get-communications-history",
           {"!set history 000A 0009 FFFF",
            "=     total:    10\nsuccessful:     9\n    failed: 65535\n"},
           {"16"});
    addRow("clear history", "--clear-communications-history", {ok}, {"17"});
    addRow("noise 07", "--noise-measurement", {"!set noise 07", "= 7\n"}, {"40"});
    addRow("reset", "--reset", {ok}, {"7F"});
    addRow("web password of 16 characters", "--set-web-password Pw!9xPw!9xPw!9x1", {ok},
           {"A2Pw!9xPw!9xPw!9x1"});
    addRow("IP address", "--set-ip-address 172.16.5.9", {ok}, {"A300172016005009"});
    addRow("IP address with leading zeros", "--set-ip-address 192.168.010.050", {ok},
           {"A300192168010050"});
    addRow("subnet mask", "--set-subnet-mask 255.255.255.0", {ok}, {"A301255255255000"});

    // The firmware version at levels 1 to 3: the documentation's examples.
    addRow("level 3", "-o 3 -r 1,2", {page1, page2, "=" + report1 + report2}, {"01000000000C"});
    addRow("error end", "-r 1", {noTag, "=NG: 72\n"}, {"010000000004"});
    addRow("error end, error-abort", "-a -r 1", {noTag, "=NG: 72\n"}, {"010000000004"}, 2);
    addRow("error end at level 2, error-abort", "-a -o 2 -r 1", {noTag, "=010000000004\t72\n"},
           {"010000000004"}, 2);
    addRow("normal end, error-abort", "-a --get-model-number", {model}, {"1401"});
    addRow("error 7B", "--reset", {"!respond 37420D", "=NG: 7b\n"}, {"7F"});
    addRow("code not in the table", "--reset", {"!respond 58590D", "=NG: ffffffffffffffff\n"},
           {"7F"});
    addRow("code not in the table, error-abort", "-a -o 1 --reset", {"!respond 58590D", "=XY\n"},
           {"7F"}, 2);
    // A unit that ignored a write and then sent a late read answer wrote nothing.
    addRow("write acknowledged with data, level 1, error-abort", "-a -o 1 -w 1 0011223344556677",
           {"!respond 303030313032303330343035303630370D", "=0001020304050607\n"},
           {"0200000000040011223344556677"}, 2);
    addRow("a frame behind the response", "-o 2 --get-model-number",
           {"!fault trailing 30300D", "=1401\t00V640-SIM01\n"}, {"1401"});
    // The last in table order, which is neither the first nor the last given.
    addRow("several operations", "--nak --reset --get-model-number", {ok}, {"7F"});

    addRow("node-number 17 over TCP", "-n 17 --get-model-number", {model}, {"1401"});
    addRow("baud-rate with every field", "-c 19200e72h --get-model-number", {model}, {"1401"});
}

void OneShotTest::refusals_data()
{
    e2e::addColumns();
    // Each ends with 3 after the link opened, with nothing sent. One row per kind of value; the
    // parsers' own rows try the variants of each. The settings come with an operation.
    QStringList invalid{"--reset --test " + QString(271, 'A')};
    for (const char *setting : {"-n 18", "-i 999", "-o 4", "-c 9600X", "-c E71"}) {
        invalid << QString(setting) + " --get-model-number";
    }
    for (const char *arguments :
         {"-r 1,,2", "-w 1,2 0123456789ABCDEF", "-w 1 GGGGGGGGGGGGGGGG",
          "-w 1 00112233445566\ufb00", "-s 1 0011", "-b 0x1 00", "-b 0 001", "-b 87 0011",
          "--test ab\rcd", "--set-web-password pw\u20ac", "--set-ip-address 192.168.1",
          "--set-subnet-mask 255.255.255.256", "-n 18 -i 1 -o 7 -r 0", "--wait 1s -r 1",
          "--retries 101 -r 1", "--scan", "--get-model-number 0011", "--test HELLO WORLD",
          "1401"}) {
        invalid << arguments;
    }
    for (const QString &arguments : invalid) {
        addRow(qPrintable(arguments.left(40)), arguments, {}, {}, 3);
    }
    // The serial text must be the grammar and nothing else, in ASCII.
    for (const char *rate : {"9600\n", "9600 ", "96\u0661"}) {
        addRow(QByteArray(rate).toPercentEncoding(), {"-c", rate, "--get-model-number"}, {}, {}, 3);
    }
    // A run that got no complete answer must not report success.
    addRow("no answer", "-i 1000 --get-model-number", {"!fault ignore-every 1"}, {"1401"}, 4);
    addRow("no CR", "-o 1 -i 1000 --reset", {"!respond 30303132"}, {"7F"}, 4);
}

void OneShotTest::commandLine_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("status");
    // What standard output and standard error must hold; empty: nothing at all. An output that
    // ends a line is the whole output.
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");

    const auto row = [](const char *arguments, int status, const char *output, const char *error) {
        QTest::newRow(arguments) << QString(arguments) << status << QByteArray(output)
                                 << QByteArray(error);
    };
    row("--version", 0, "vorsel " VORSEL_VERSION "\n", "");
    row("--reset -v", 0, "vorsel " VORSEL_VERSION "\n", "");
    row("--help", 0, "-r, --read <peges>", "");
    row("--get-model-number -h", 0, "Getting the Model Number.", "");
    row("-x --get-model-number", 1, "", "'x'");
    row("--reset=1", 1, "", "reset");
}

void OneShotTest::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);

    QTcpServer unit;
    QVERIFY(unit.listen(QHostAddress(e2e::address(12)), 7090));
    e2e::Vorsel vorsel;
    QVERIFY(vorsel.run(QStringList{"--target", e2e::address(12)} + arguments.split(' ')));
    QVERIFY2(vorsel.errors.contains(error) && error.isEmpty() == vorsel.errors.isEmpty(),
             vorsel.errors.constData());
    QVERIFY2(vorsel.output.contains(output) && output.isEmpty() == vorsel.output.isEmpty(),
             vorsel.output.constData());
    QVERIFY(!output.endsWith('\n') || vorsel.output == output);
    QCOMPARE(vorsel.process.exitCode(), status);
    QVERIFY2(!unit.waitForNewConnection(0), "vorsel opened a link");
}

QTEST_GUILESS_MAIN(OneShotTest)
#include "tst_oneshot.moc"

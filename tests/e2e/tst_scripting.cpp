#include "e2e.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using e2e::addRow;
using e2e::frame;

// For scripts and test rigs: JSON Lines parsed for every outcome and form, the cause of each
// failure under --verbose, and the traffic trace.
class ScriptingTest : public QObject
{
    Q_OBJECT
    QTemporaryDir directory;

private slots:
    void jsonOneShot_data();
    void jsonOneShot() { e2e::runRow(40); }
    void jsonInteractive_data();
    void jsonInteractive() { e2e::runRow(41); }
    void causes_data();
    // Under a file size limit of nothing, which only a trace file meets.
    void causes() { e2e::runRow(42, {"bash", "-c", "ulimit -f 0 && exec \"$0\" \"$@\""}); }
    void serialCauses_data();
    void serialCauses() { e2e::runRow(e2e::onPty); }
    void fileTarget();
    void traceFile();
};

namespace {

QByteArray answer(const char *command, const char *response, const char *value = nullptr)
{
    QByteArray object = QByteArray("{\"v\":1,\"outcome\":\"ok\",\"code\":0,\"command\":\"") +
                        command + "\",\"response\":\"" + response + '"';
    if (value != nullptr) {
        object += QByteArray(",\"value\":") + value;
    }
    return object + '}';
}

} // namespace

void ScriptingTest::jsonOneShot_data()
{
    e2e::addColumns();
    const QString json = QStringLiteral("-o json ");

    // Every form of value.
    addRow("pages", json + "-r 1,17",
           {"!page 0 0123456789ABCDEF", "!page 16 00112233AABBCCDD",
            answer("010000040004", "000123456789ABCDEF00112233AABBCCDD",
                   R"({"1":"0123456789ABCDEF","17":"00112233AABBCCDD"})")},
           {"010000040004"});
    addRow("free text", json + "--test a\"b\\c",
           {answer(R"(10a\"b\\c)", R"(00a\"b\\c)", R"("a\"b\\c")")}, {"10a\"b\\c"});
    addRow("firmware", json + "--get-firmware-version",
           {"!set firmware 0110", answer("1402", "000110", R"("1.16")")}, {"1402"});
    addRow("IP address", json + "--get-ip-address-in-rom",
           {answer("1413", "00192168001200", R"("192.168.1.200")")}, {"1413"});
    addRow("last command", json + "--get-last-command",
           {"!set last-command 1401", answer("15", "001401", R"("1401")")}, {"15"});
    addRow("history", json + "--get-communications-history",
           {"!set history 000A 0009 0001",
            answer("16", "00000A00090001", R"({"total":10,"successful":9,"failed":1})")},
           {"16"});
    addRow("noise", json + "--noise-measurement", {answer("40", "0003", "3")}, {"40"});
    addRow("no form of its own", json + "--reset", {answer("7F", "00")}, {"7F"});

    // Every outcome.
    addRow("error end, error-abort", json + "-a -r 1",
           {"!fault no-tag on",
            R"({"v":1,"outcome":"error","code":114,"command":"010000000004","response":"72",)"
            R"("reason":"the unit answered 010000000004 with error code 72"})"},
           {"010000000004"}, 2);
    // Whatever the unit sends, the line parses: every byte, control bytes escaped, bytes beyond
    // ASCII as Latin-1.
    addRow("invalid answer", json + "--test A",
           {"!respond 30304100017F9BE90D",
            R"({"v":1,"outcome":"invalid-answer","command":"10A",)"
            R"("response":"00A\u0000\u0001\u007f\u009bé",)"
            R"("reason":"not a valid answer to 10A: not a frame with a known response code"})"},
           {"10A"});
    addRow("time-out", json + "-i 1000 --get-model-number",
           {"!fault ignore-every 1",
            R"({"v":1,"outcome":"timeout","command":"1401",)"
            R"("reason":"no answer from 127.0.0.40:7090 within 1000 ms"})"},
           {"1401"}, 4);
    addRow("not sent", json + "-w 1 0011",
           {R"({"v":1,"outcome":"not-sent",)"
            R"("reason":"--write: 16 hexadecimal digits per page expected, got 4 for 1 page"})"},
           {}, 3);
    addRow("link failed at start", json + "--get-model-number",
           {"!quit", R"({"v":1,"outcome":"link-failed","reason":"connection to 127.0.0.40:7090 )"
                     R"x(refused (no unit there, or it serves another program)"})x"},
           {}, 4);
    addRow("link failed in the exchange", json + "--reset",
           {"!fault close on", R"({"v":1,"outcome":"link-failed","command":"7F",)"
                               R"("reason":"the unit at 127.0.0.40:7090 closed the connection"})"},
           {"7F"}, 4);
}

void ScriptingTest::jsonInteractive_data()
{
    e2e::addColumns();
    // One object per line, also for lines that send nothing or get no answer.
    addRow(
        "a line each", "-o json -i 1000",
        {"!fault ignore-every 3",
         "<1401\n\n14\t01\n" + QByteArray(300, 'A') + "\n0100\n1402\n1403\n",
         answer("1401", "00V640-SIM01", R"("V640-SIM01")"),
         R"({"v":1,"outcome":"not-sent","reason":"empty line"})",
         R"({"v":1,"outcome":"not-sent","reason":"line holds U+0009, which no frame may carry"})",
         R"({"v":1,"outcome":"not-sent",)"
         R"("reason":"line longer than 272 characters, the most a frame can carry"})",
         R"({"v":1,"outcome":"error","code":20,"command":"0100","response":"14",)"
         R"("reason":"the unit answered 0100 with error code 14"})",
         R"({"v":1,"outcome":"timeout","command":"1402",)"
         R"("reason":"no answer from 127.0.0.41:7090 within 1000 ms"})",
         answer("1403", "0000005E005301", R"("00:00:5E:00:53:01")"), "$"},
        {"1401", "0100", "1402", "1403"}, 4);
    addRow("terminal: no prompt", "-o json",
           {"<1402\n", answer("1402", "000105", R"("1.05")"), "$"}, {"1402"}, 0, e2e::Terminal);
    // A failure outside any line ends the output with an object of its own.
    addRow("peer closes while a line is awaited", "-o json",
           {"<1402\n", answer("1402", "000105", R"("1.05")"), "!quit",
            R"({"v":1,"outcome":"link-failed",)"
            R"("reason":"the unit at 127.0.0.41:7090 closed the connection"})"},
           {"1402"}, 4);
}

void ScriptingTest::causes_data()
{
    e2e::addColumns();
    // Each cause of status 3 and 4 is named (the settings line and a refused connection: the
    // example in vorsel(1)).
    addRow("node number", "--verbose -n 18 --reset",
           {"?vorsel: --node-number: 0 to 17 expected, got '18'\n"}, {}, 3);
    addRow("byte address", "--verbose -b 88 00",
           {"?vorsel: --byte-write: a hexadecimal byte address 0 to 87 expected, got '88'\n"}, {},
           3);
    addRow("test text", "--verbose --test " + QString(271, 'A'),
           {"?vorsel: --test: 0 to 270 characters fit a frame, got 271\n"}, {}, 3);
    addRow("IP address", "--verbose --set-ip-address 10.1",
           {"?vorsel: --set-ip-address: four decimal parts 0 to 255"}, {}, 3);
    addRow("baud rate", "--verbose -c 9600X --reset", {"?vorsel: --baud-rate: a rate"}, {}, 3);
    addRow("a test text in two arguments", "--verbose --test HELLO WORLD",
           {"?vorsel: --test: the text is one argument (quote a text with spaces), got 1 more\n"},
           {}, 3);
    addRow("the rest of a password with a space", "--verbose -o json --set-web-password my secret",
           {R"({"v":1,"outcome":"not-sent","reason":"1 argument that no operation takes: only )"
            R"(--write, --same-write and --byte-write take tag data"})",
            "?vorsel: 1 argument that no operation takes", "%secret"},
           {}, 3);
    // A trace that is lost, and so nothing is sent.
    addRow("trace that cannot be written",
           "--verbose --trace " + directory.filePath("full") + " --get-model-number",
           {"?vorsel: cannot write the trace\n"}, {}, 1);
    addRow("time-out", "--verbose -i 1000 --reset",
           {"!fault ignore-every 1",
            "?vorsel: no answer from 127.0.0.42:7090 within 1000 ms (waited "},
           {"7F"}, 4);
    addRow("peer closed", "--verbose --reset",
           {"!fault close on", "?vorsel: the unit at 127.0.0.42:7090 closed the connection\n"},
           {"7F"}, 4);
    // Where others may read along a password is masked; standard output shows what went.
    addRow("web password", "--verbose --trace - -o 2 --set-web-password Hunter2secret",
           {"!respond 37420D", "=A2Hunter2secret\t7B\n", "? > 127.0.0.42:7090 A2********\\r\n",
            "?vorsel: the unit answered A2******** with error code 7b\n", "%Hunter2"},
           {"A2Hunter2secret"});
    addRow("invalid answer", "--verbose --noise-measurement",
           {"!respond 30305A5A0D", "=NG: ffffffffffffffff\n",
            "?vorsel: not a valid answer to 40: data not in the form of the answer\n"},
           {"40"});

    // The trace, here on standard error: the link, frames both ways with the time between,
    // bytes nobody asked for, the time-out and the reopening.
    addRow("trace", "--trace - -i 1000",
           {"!fault ignore-every 2", "<1401\n", "=V640-SIM01\n", "!send 30305A5A0D", "~",
            "<1402\n1403\n", "=00:00:5E:00:53:01\n", "$", "? open 127.0.0.42:7090\n",
            "? > 127.0.0.42:7090 1401\\r\n", "? < 127.0.0.42:7090 00V640-SIM01\\r (",
            "? discarded 127.0.0.42:7090 00ZZ\\r\n", "? timeout 127.0.0.42:7090 after ",
            "? reopen 127.0.0.42:7090\n", "? close 127.0.0.42:7090\n"},
           {"1401", "1402", "1403"}, 4);
}

void ScriptingTest::serialCauses_data()
{
    e2e::addColumns();
    QByteArray changedByte = frame(1, "00V640-SIM01");
    changedByte[changedByte.size() - 4] = '2';
    addRow("check sequence", "--verbose -o json --get-model-number",
           {"!respond " + changedByte.toHex(),
            R"({"v":1,"outcome":"invalid-answer","command":"01140105","response":")" +
                changedByte.mid(1, changedByte.size() - 2) +
                R"(","reason":"not a valid answer to 01140105: wrong frame check sequence"})",
            "?vorsel: not a valid answer to 01140105: wrong frame check sequence\n"},
           {"1401"});
    const QByteArray password = frame(1, "A2pw");
    addRow("web password, addressed", "--trace - --set-web-password pw",
           {"=OK: \n", "? node 1 \\x0101A2********" + password.right(3).left(2) + "\\r\n", "%A2pw"},
           {"A2pw"});
    addRow("hang-up", "--verbose --trace - -i 60000 --get-model-number",
           {"!fault delay 30000", "#10", "!quit", "?vorsel: serial port ",
            "? node 1 \\x0101140105\\r\n"},
           {"1401"}, 4);
}

void ScriptingTest::fileTarget()
{
    // A file that does not open as a serial port is named as one, never looked up as a host.
    QTemporaryDir directory;
    const QString regular = directory.filePath(QStringLiteral("unit"));
    QFile file(regular);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (const QString &target : {regular, QStringLiteral("/dev/null")}) {
        e2e::Vorsel vorsel;
        QVERIFY(vorsel.run({"--target", target, "--verbose", "--get-model-number"}));
        QVERIFY2(vorsel.errors.contains("\nvorsel: serial port " + target.toUtf8() + ": "),
                 vorsel.errors.constData());
        QCOMPARE(vorsel.output, QByteArray());
        QCOMPARE(vorsel.process.exitCode(), 4);
    }
}

void ScriptingTest::traceFile()
{
    // Appended to and readable by its owner only (the stamps' form: the README's example).
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("trace"));
    e2e::Simulator simulator;
    QVERIFY(simulator.start({"--listen", e2e::address(43)}));
    for (const char *operation : {"--get-model-number", "--reset"}) {
        e2e::Vorsel vorsel;
        QVERIFY(vorsel.run({"--target", e2e::address(43), "--trace", path, operation}));
        QCOMPARE(vorsel.process.exitCode(), 0);
    }
    QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 8);
    QVERIFY(lines.at(5).endsWith(QStringLiteral(" > %1:7090 7F\\r").arg(e2e::address(43))));
}

QTEST_GUILESS_MAIN(ScriptingTest)
#include "tst_scripting.moc"

#include "e2e.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using e2e::addRow;
using e2e::Terminal;

// The fault matrix: vorsel against a unit that refuses, closes, dawdles, sends pieces, bytes
// that are no frame, endless streams or bytes nobody asked for, and input that ends early.
class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults() { e2e::runRow(30); }
    void unresolvableHost_data();
    void unresolvableHost();
    void answersInStep_data();
    void answersInStep();
};

void FaultTest::faults_data()
{
    e2e::addColumns();
    const QByteArray model = "=V640-SIM01\n";
    const QByteArray rawModel = "=00V640-SIM01\n";
    const QByteArray flood = "!flood 10000000";

    // Invalid values are only looked at once the link is open.
    addRow("refused, interactive", "", {"!quit"}, {}, 4);
    addRow("refused, invalid values", "-n 18 -i 999 -o 9 -c 9600X -r 0 --test " + QString(271, 'A'),
           {"!quit"}, {}, 4);
    // The time-out is far beyond the bound: only the close may end these runs (a one-shot run:
    // the scripting rows).
    addRow("closes before the response, interactive", "-i 60000", {"!fault close on", "<1401\n"},
           {"1401"}, 4);
    addRow("closes in the middle of the response", "-i 60000 --get-model-number",
           {"!fault split 4 5000", "#5", "~", "!quit"}, {"1401"}, 4);
    addRow("one-byte pieces", "-o 1 --get-model-number", {"!fault split 1 10", rawModel}, {"1401"});
    addRow("delay under the time-out", "-i 1000 --get-model-number", {"!fault delay 600", model},
           {"1401"});
    addRow("delay over the time-out", "-i 1000 --get-model-number", {"!fault delay 1500"}, {"1401"},
           4);
    // The prompt comes back and the status stays; the next line goes out over a new link. While
    // vorsel is stopped, bytes arrive on that link together with the line: they are dropped as
    // the line goes out.
    addRow("delay over the time-out, interactive", "-i 1000",
           {"!fault delay 1500", "=> ", "<1401\n", "=> ", "!fault delay 0", "-", "!send 3030",
            "<1402\n", "~", "+", "=1.05\n> ", "$"},
           {"1401", "1402"}, 4, Terminal);
    // A response whose first CR is its first byte never completes.
    addRow("CR at index 0", "-i 1000 --get-model-number", {"!respond 0D30300D"}, {"1401"}, 4);
    addRow("byte outside the frame set", "--get-model-number",
           {"!fault bad-byte on", "=NG: ffffffffffffffff\n"}, {"1401"});
    addRow("10 MB without CR", "-i 1000 --get-model-number", {flood}, {"1401"}, 4);
    // The CR goes out behind the whole flood: the response ends, and it is no frame.
    addRow("10 MB, then CR", "-o 2 --get-model-number", {flood, "#5", "!send 0D", "=1401\t\n"},
           {"1401"});
    // The socket may take in what the system's receive buffer holds at once, so the stream is
    // far longer than that: it is what tells a bounded reception from an unbounded one.
    addRow("100 MB, then CR, interactive", "-o 1",
           {"<1402\n", "=000105\n", "^", "!flood 100000000", "<1401\n", "#10", "!send 0D", "=\n",
            "^", "<1402\n", "=000105\n", "$"},
           {"1402", "1401", "1402"});
    // Nobody asked for them: they are never reported, in pieces or whole.
    addRow("unsolicited frames while a line is awaited", "-o 1",
           {"<1401\n", "=> " + rawModel.mid(1) + "> ", "!send 3030", "~", "!send 58590D",
            "!send 30305A5A0D", "~", "<1402\n", "=000105\n> ", "$"},
           {"1401", "1402"}, 0, Terminal);
    // A line feed behind a response, in the same read or later, is not part of the next one,
    // also when it comes only once the next command has gone out.
    addRow("unsolicited line feeds", "-o 1",
           {"!fault trailing 0A", "<1401\n", rawModel, "~", "!send 0A", "~", "<1402\n", "=000105\n",
            "$"},
           {"1401", "1402"});
    addRow("late line feed after each answer", "-a",
           {"!fault trailing 0A", "!fault split 13 1000", "<1401\n1402\n10HELLO\n",
            model + "1.05\nHELLO\n", "$"},
           {"1401", "1402", "10HELLO"});
    // An answer not in the form of the command's (the reporting tests try every form).
    addRow("ZZ for a number, error-abort", "-a --noise-measurement",
           {"!respond 30305A5A0D", "=NG: ffffffffffffffff\n"}, {"40"}, 2);
    addRow("input ends during an exchange", "", {"!fault delay 300", "<1401\n", "$", model},
           {"1401"});
    addRow("input ends in the middle of a line", "", {"<14", "$", "=NG: 14\n"}, {"14"});
    // Reading a line costs time linear in its length: far beyond the bound otherwise.
    addRow("20 MB line", "", {"^", "<" + QByteArray(20000000, '1'), "<\n1401\n", model, "^", "$"},
           {"1401"}, 3);
}

void FaultTest::unresolvableHost_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("interactive") << QStringList{} << QByteArray();
    QTest::newRow("invalid values") << QStringList{"-n", "18", "-r", "0"} << QByteArray();
    QTest::newRow("cause named") << QStringList{"--verbose", "--reset"}
                                 << QByteArray("vorsel: host name nonexistent.invalid does not "
                                               "resolve\n");
}

void FaultTest::unresolvableHost()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, error);

    // The resolver here asks a server elsewhere: the lookup runs where only loopback exists.
    QStringList isolation;
    for (const char *option : {"--net", "-rn"}) {
        if (QProcess::execute("unshare", {option, "true"}) == 0) {
            isolation = QStringList{"unshare", option, "--"};
            break;
        }
    }
    if (isolation.isEmpty()) {
        QSKIP(
            "no network namespace can be made here, and a name lookup must not leave the machine");
    }
    e2e::Vorsel vorsel;
    vorsel.wrapper = isolation;
    QVERIFY(vorsel.run(QStringList{"--target", "nonexistent.invalid"} + arguments));
    QVERIFY2(error.isEmpty() ? vorsel.errors.isEmpty() : vorsel.errors.endsWith(error),
             vorsel.errors.constData());
    QCOMPARE(vorsel.output, QByteArray());
    QCOMPARE(vorsel.process.exitCode(), 4);
}

void FaultTest::answersInStep_data()
{
    QTest::addColumn<bool>("pty");
    QTest::newRow("TCP") << false;
    QTest::newRow("pty") << true;
}

void FaultTest::answersInStep()
{
    // A unit that answers late, twice, or not at all, and lines that vorsel reads faster than
    // the unit answers: whatever else becomes of a line, an ok carries its own answer.
    QFETCH(bool, pty);
    e2e::Simulator simulator;
    QVERIFY(
        simulator.start(pty ? QStringList{"--pty"} : QStringList{"--listen", e2e::address(31)}));
    QMap<QByteArray, QByteArray> expected = {{"1401", "\"V640-SIM01\""}, {"1402", "\"1.05\""}};
    for (int page = 1; page <= 8; ++page) {
        const QByteArray data = QByteArray::number(page * 0x1111111, 16).rightJustified(16, '0');
        QVERIFY(simulator.steer("page " + QByteArray::number(page - 1) + ' ' + data));
        const QByteArray read =
            "01" + QByteArray::number(1u << (page + 1), 16).toUpper().rightJustified(10, '0');
        expected.insert(read, "{\"" + QByteArray::number(page) + "\":\"" + data.toUpper() + "\"}");
    }
    for (const char *fault : {"fault delay 20", "fault repeat 3 10", "fault ignore-every 11",
                              "fault delay-next 2 1500"}) {
        QVERIFY(simulator.steer(fault));
    }
    QByteArray lines;
    const QByteArrayList commands = expected.keys();
    for (int line = 0; line < 40; ++line) {
        lines += commands.at((line * 7) % commands.size()) + '\n';
    }
    e2e::Vorsel vorsel;
    const QString target =
        pty ? QString::fromLocal8Bit(simulator.readiness("pty")) : e2e::address(31);
    QVERIFY(vorsel.start({"--target", target, "-o", "json", "-i", "1000"}));
    QVERIFY(vorsel.write(lines));
    vorsel.endInput();
    QVERIFY(vorsel.finish());
    const QByteArrayList objects = vorsel.output.split('\n').mid(0, 40);
    QCOMPARE(vorsel.output.count('\n'), 40);
    int ok = 0;
    for (int line = 0; line < 40; ++line) {
        const QJsonObject object = QJsonDocument::fromJson(objects.at(line)).object();
        const QByteArray command = lines.split('\n').at(line);
        QCOMPARE(object.value("command").toString().toLatin1(),
                 pty ? e2e::printable(e2e::frame(1, command)) : command);
        if (object.value("outcome") == QLatin1String("ok")) {
            ++ok;
            QCOMPARE(
                QJsonDocument(QJsonArray{object.value("value")}).toJson(QJsonDocument::Compact),
                "[" + expected.value(command) + "]");
        }
    }
    // Most lines get their answer.
    QVERIFY2(ok >= 20, qPrintable(QString::number(ok)));
}

QTEST_GUILESS_MAIN(FaultTest)
#include "tst_faults.moc"

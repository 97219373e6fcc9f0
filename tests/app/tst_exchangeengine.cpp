#include <QtTest>

#include "exchangeengine.h"
#include "scriptedlink.h"
#include "traffictrace.h"
#include "v640.h"

namespace {

QByteArray commandFrame(unsigned int node, unsigned int code, const char *parameter = nullptr)
{
    const char *frame = v640_build_command_frame(node, code, parameter);
    return frame != nullptr ? QByteArray(frame) : QByteArray();
}

QByteArray responseFrame(unsigned int node, unsigned int code, const char *parameter = nullptr)
{
    const char *frame = v640_build_response_frame(node, code, parameter);
    return frame != nullptr ? QByteArray(frame) : QByteArray();
}

const QByteArray soh = "\x01";

// Unaddressed frames, as TCP carries them.
QByteArray command(unsigned int code, const char *parameter = nullptr)
{
    return commandFrame(0, code, parameter);
}

QByteArray normalEnd(const char *data = nullptr)
{
    return responseFrame(0, 0x00, data);
}

// The engine over a scripted link, on a clock the test moves.
class Rig
{
public:
    explicit Rig(bool serial = false) : engine(opener, timer, lastCommand, responseBuffer, trace)
    {
        opener.serial = serial;
        engine.setClock([this]() { return now * 1000; });
        engine.setTimeout(1000);
        QObject::connect(&engine, &ExchangeEngine::exchangeEnded,
                         [this](const ExchangeRecord &record) { records << record; });
        QObject::connect(&engine, &ExchangeEngine::settled, [this]() { settledAt = now; });
        QString reason;
        QVERIFY(engine.openLink(&reason));
    }

    void start(const QByteArray &frame, bool formDecides = true)
    {
        ExchangeRequest request;
        request.frame = frame;
        request.formDecides = formDecides;
        engine.start(request);
    }
    // Each piece as one read from the link.
    void arrive(const QByteArrayList &pieces)
    {
        for (const QByteArray &piece : pieces) {
            opener.last->reads << piece;
            engine.receive();
        }
    }

    ScriptedOpener opener;
    QTimer timer;
    QByteArray lastCommand;
    QByteArray responseBuffer;
    TrafficTrace trace;
    ExchangeEngine engine;
    QList<ExchangeRecord> records;
    qint64 now = 0;
    qint64 settledAt = -1;
};

const char *outcomeName(ExchangeOutcome outcome)
{
    switch (outcome) {
    case ExchangeOutcome::Ok:
        return "ok";
    case ExchangeOutcome::UnitError:
        return "error";
    case ExchangeOutcome::InvalidAnswer:
        return "invalid";
    case ExchangeOutcome::Timeout:
        return "timeout";
    case ExchangeOutcome::NotSent:
        return "not-sent";
    case ExchangeOutcome::LinkFailed:
        return "link-failed";
    case ExchangeOutcome::Interrupted:
        return "interrupted";
    }
    return "";
}

} // namespace

class ExchangeEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
    void reception_data();
    void reception();
    void responseTooLongIsKeptBounded();
    void timeoutWaitsItsFullInterval();
    void resynchronisation_data();
    void resynchronisation();
};

void ExchangeEngineTest::verdicts_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("outcome");
    // The form of the data decides only where it is read; the raw levels show any frame.
    QTest::addColumn<bool>("formOnly");
    const auto row = [](const char *name, const QByteArray &command, const QByteArray &response,
                        ExchangeOutcome outcome, bool formOnly) {
        QTest::newRow(name) << command << response << int(outcome) << formOnly;
    };
    const auto invalid = ExchangeOutcome::InvalidAnswer;

    row("normal end", command(0x1402), normalEnd("0110"), ExchangeOutcome::Ok, false);
    row("error end", command(0x0100, "00000004"), responseFrame(0, 0x72),
        ExchangeOutcome::UnitError, false);
    row("code not in the table", "99\r", normalEnd("1"), ExchangeOutcome::Ok, false);

    const QByteArray model = responseFrame(1, 0x00, "V640-SIM01");
    QByteArray changedByte = model;
    changedByte[changedByte.size() - 4] = '2';
    row("changed byte, old FCS", commandFrame(1, 0x1401), changedByte, invalid, false);
    row("FCS in lower case", commandFrame(1, 0x1401), soh + "0100ab\r", invalid, false);
    row("another node", commandFrame(1, 0x1401), responseFrame(5, 0x00, "V640-SIM01"), invalid,
        false);
    row("not a frame", command(0x1401), "00V640\x80\r", invalid, false);

    row("one page of data for two", command(0x0100, "0000000C"), normalEnd("0123456789ABCDEF"),
        invalid, true);
    row("lower-case tag data", command(0x0100, "00000004"), "00aa0102030405060F\r", invalid, true);
    row("read without its mask", "0100\r", normalEnd("0123456789ABCDEF"), invalid, true);
    row("ZZ for a number", command(0x40), "00ZZ\r", invalid, true);
    row("firmware of one digit", command(0x1402), normalEnd("1"), invalid, true);
    row("firmware with a hexadecimal major", command(0x1402), normalEnd("9A05"), invalid, true);
    row("MAC in lower case", command(0x1403), "00aa1122334455\r", invalid, true);
    row("IP of 8 digits", command(0x1413), normalEnd("19216800"), invalid, true);
    row("IP with a part above 255", command(0x1411), normalEnd("041724206404"), invalid, true);
    row("DIP switch of one digit", command(0x1410), normalEnd("1"), invalid, true);
    row("last command empty", command(0x15), normalEnd(), invalid, true);
    row("last command of 3 digits", command(0x15), normalEnd("7F0"), invalid, true);
    row("history of 11 digits", command(0x16), normalEnd("000A0009000"), invalid, true);
    // A stale read answer is no acknowledgement of a write, at any level.
    row("write acknowledged with data", command(0x0200, "000000040011223344556677"),
        normalEnd("0011223344556677"), invalid, false);
    row("reset acknowledged with a space", command(0x7F), "00 \r", invalid, false);
    row("write acknowledged", command(0x0300, "000000040011223344556677"), normalEnd(),
        ExchangeOutcome::Ok, false);
}

void ExchangeEngineTest::verdicts()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, response);
    QFETCH(int, outcome);
    QFETCH(bool, formOnly);
    QVERIFY(!command.isEmpty() && !response.isEmpty());

    for (const bool formDecides : {true, false}) {
        Rig rig;
        rig.start(command, formDecides);
        rig.arrive({response});
        QCOMPARE(rig.records.size(), 1);
        const ExchangeRecord &record = rig.records.first();
        QCOMPARE(record.command, command);
        QCOMPARE(record.response, response);
        const bool judged = formDecides || !formOnly;
        QCOMPARE(int(record.outcome), judged ? outcome : int(ExchangeOutcome::Ok));
        QCOMPARE(record.reason.isEmpty(),
                 ExchangeOutcome(int(record.outcome)) == ExchangeOutcome::Ok);
    }
}

void ExchangeEngineTest::reception_data()
{
    QTest::addColumn<QByteArray>("command"); // empty: no command outstanding
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("response"); // empty: the exchange is still open
    const auto row = [](const char *name, const QByteArray &command, const QByteArrayList &reads,
                        const QByteArray &response) {
        QTest::newRow(name) << command << reads << response;
    };

    const QByteArray unaddressed = command(0x1401);
    const QByteArray addressed = commandFrame(1, 0x1401);
    row("in pieces", unaddressed, {"00V6", "40", "\r"}, "00V640\r");
    row("CR at index 0 never completes", unaddressed, {"\r", "00AB\r"}, QByteArray());
    row("bytes after the CR are dropped", unaddressed, {"00A", "B\r\n01\r"}, "00AB\r");
    row("line feeds before the answer are not part of it", unaddressed, {"\n", "\n\n00A", "\nB\r"},
        "00A\nB\r");
    row("addressed: bytes before SOH are dropped", addressed,
        {"\n00\r", "x" + responseFrame(1, 0x00, "V640")}, responseFrame(1, 0x00, "V640"));
    row("no command outstanding", QByteArray(), {"00ZZ\r"}, QByteArray());
}

void ExchangeEngineTest::reception()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArray, response);
    Rig rig;
    if (!command.isEmpty()) {
        rig.start(command, false);
    }
    rig.arrive(reads);
    QCOMPARE(rig.records.size(), response.isEmpty() ? 0 : 1);
    if (!response.isEmpty()) {
        QCOMPARE(rig.records.first().response, response);
    }
}

void ExchangeEngineTest::responseTooLongIsKeptBounded()
{
    Rig rig;
    rig.start(command(0x1401));
    const QByteArray chunk(4096, 'A');
    for (int i = 0; i < 2560; ++i) {
        rig.arrive({chunk});
        QVERIFY(rig.responseBuffer.size() <= V640_MAX_FRAME_SIZE + 1);
    }
    rig.arrive({"BBB\rCCC"});
    QCOMPARE(rig.records.size(), 1);
    const QByteArray kept = rig.records.first().response;
    // What is judged is what the whole stream would have given: not a frame.
    QCOMPARE(kept.size(), V640_MAX_FRAME_SIZE + 2);
    QCOMPARE(kept.indexOf('\r'), V640_MAX_FRAME_SIZE + 1);
    QCOMPARE(rig.records.first().outcome, ExchangeOutcome::InvalidAnswer);
}

void ExchangeEngineTest::timeoutWaitsItsFullInterval()
{
    Rig rig;
    rig.start(command(0x1401));
    QVERIFY(rig.timer.isActive());
    QCOMPARE(rig.timer.timerType(), Qt::PreciseTimer);
    // A timer that fires a little early is armed again for the rest.
    rig.now = 999;
    rig.engine.timerExpired();
    QVERIFY(rig.records.isEmpty() && rig.timer.isActive());
    rig.now = 1000;
    rig.engine.timerExpired();
    QCOMPARE(rig.records.size(), 1);
    QCOMPARE(rig.records.first().outcome, ExchangeOutcome::Timeout);
    QCOMPARE(rig.records.first().elapsedMs, 1000);
}

void ExchangeEngineTest::resynchronisation_data()
{
    // The steps, over a TCP link unless "serial" starts them, with a time-out of 1000 ms:
    //   ">MSG" an exchange of MSG starts ("+" behind it: one retry); "<TEXT" bytes arrive;
    //   "@N" the clock reaches N ms and the timer fires; "~" the link is lost while the next
    //   frame waits; "$" the run ends: the line settles.
    // sent: each message the link took, with the time. records: each outcome and answer; a
    // settled run adds "settled@T".
    QTest::addColumn<QByteArrayList>("steps");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<QByteArrayList>("records");
    const auto row = [](const char *name, const QByteArrayList &steps, const QByteArrayList &sent,
                        const QByteArrayList &records) {
        QTest::newRow(name) << steps << sent << records;
    };
    const QByteArray p1 = "010000000004", p2 = "010000000008";
    const QByteArray a = "001111111111111111\r", b = "002222222222222222\r";
    const QByteArray model = "1401", acknowledged = "00\r";

    // An answer owed after a time-out costs no other exchange when it comes within one more
    // time-out interval; the next frame goes once the line has been quiet for 50 ms.
    // For one more time-out interval after that, each answer waits out the quiet.
    row("late answer discarded",
        {">" + p1, "@1000", ">" + p2, "@1300", "<" + a, "@1350", "<" + b, "@1400"},
        {p1 + "@0", p2 + "@1350"}, {"timeout", "ok " + b});
    row("owed answer that never comes",
        {">" + p1, "@1000", ">" + p2, "@1500", "@2000", "<" + b, "@2050"},
        {p1 + "@0", p2 + "@2000"}, {"timeout", "ok " + b});
    row("retry after a late answer",
        {">" + p1 + "+", "@1000", "@1300", "<" + a, "@1350", "<" + a, "@1400"},
        {p1 + "@0", p1 + "@1350"}, {"ok " + a});
    // A unit that repeats itself: the copy costs the next frame the quiet, and the exchanges
    // after it are guarded.
    row("copy in the same read", {">" + p1, "<" + a + a, ">" + p2, "@50", "<" + b, "@100"},
        {p1 + "@0", p2 + "@50"}, {"ok " + a, "ok " + b});
    row("a different second answer while guarded",
        {">" + p1, "<" + a + a, ">" + p2, "@50", "<" + a, "<" + b, "@100"}, {p1 + "@0", p2 + "@50"},
        {"ok " + a, "invalid " + a});
    // A unit that repeats itself may also miss the next frame: the previous answer again, with no
    // other behind it, is not taken for this command's.
    row("the previous answer again while guarded",
        {">" + p1, "<" + a + a, ">" + p2, "@50", "<" + a, "@100"}, {p1 + "@0", p2 + "@50"},
        {"ok " + a, "invalid " + a});
    // An answer sooner than any before may have been on its way already.
    row("an early answer is guarded",
        {">" + p1, "@20", "<" + a, ">" + p2, "@30", "<" + a, "@40", "<" + b, "@80"},
        {p1 + "@0", p2 + "@20"}, {"ok " + a, "invalid " + a});
    row("bytes while nothing is owed",
        {">" + model, "<00V640\r", "@20", "<00V640\r", ">" + model, "@70", "<00V640\r", "@120"},
        {model + "@0", model + "@70"}, {"ok 00V640\r", "ok 00V640\r"});
    row("line feed while nothing is owed", {">" + model, "<00V640\r", "<\n", ">" + model},
        {model + "@0", model + "@0"}, {"ok 00V640\r"});
    row("an answer in the wrong form", {">" + p1, "<" + acknowledged, ">" + p2, "@40", "@50"},
        {p1 + "@0", p2 + "@50"}, {"invalid " + acknowledged});
    // The quiet is twice the longest answer time seen, bounded by the time-out interval.
    row("a slow unit's quiet",
        {">" + model, "@100", "<00V640\r", "@500", "<" + a, ">" + model, "@699", "@700",
         "<00V640\r", "@900"},
        {model + "@0", model + "@700"}, {"ok 00V640\r", "ok 00V640\r"});
    // A new connection owes nothing; a serial line does.
    row("time-out, new connection", {"reopen", ">" + p1, "@1000", ">" + p2},
        {p1 + "@0", p2 + "@1000"}, {"timeout"});
    row("time-out, reopened serial line",
        {"serial", "reopen", ">" + p1, "@1000", ">" + p2, "@2000"}, {p1 + "@0", p2 + "@2000"},
        {"timeout"});
    // A run on a serial line ends once it is quiet, so that the next run is not answered.
    row("serial run ends after the late answer",
        {"serial", ">" + p1, "@1000", "$", "@1300", "<" + a, "@1350"}, {p1 + "@0"},
        {"timeout", "settled@1350"});
    row("TCP run ends at once", {">" + p1, "@1000", "$"}, {p1 + "@0"}, {"timeout"});
}

void ExchangeEngineTest::resynchronisation()
{
    QFETCH(QByteArrayList, steps);
    QFETCH(QByteArrayList, sent);
    QFETCH(QByteArrayList, records);
    Rig rig(steps.contains("serial"));
    rig.engine.setReopenAfterTimeout(steps.contains("reopen"));
    QByteArrayList taken;
    int seen = 0;
    for (const QByteArray &step : steps) {
        const QByteArray text = step.mid(1);
        if (step.startsWith('>')) {
            ExchangeRequest request;
            request.frame = text.chopped(text.endsWith('+') ? 1 : 0) + '\r';
            request.retries = text.endsWith('+') ? 1 : 0;
            rig.engine.start(request);
        } else if (step.startsWith('<')) {
            rig.arrive({text});
        } else if (step.startsWith('@')) {
            rig.now = text.toLongLong();
            rig.engine.timerExpired();
        } else if (step == "$") {
            QCOMPARE(rig.engine.settle(), steps.contains("serial"));
        }
        // Every link the engine opened, in turn.
        for (; rig.opener.last != nullptr && seen < rig.opener.last->sent.size(); ++seen) {
            taken << rig.opener.last->sent.at(seen).chopped(1) + '@' + QByteArray::number(rig.now);
        }
        if (rig.opener.last != nullptr && rig.opener.last->sent.size() < seen) {
            seen = 0;
        }
    }
    QByteArrayList ended;
    for (const ExchangeRecord &record : rig.records) {
        ended << QByteArray(outcomeName(record.outcome)) +
                     (record.response.isEmpty() || record.outcome == ExchangeOutcome::Timeout
                          ? QByteArray()
                          : ' ' + record.response);
    }
    if (rig.settledAt >= 0) {
        ended << "settled@" + QByteArray::number(rig.settledAt);
    }
    QCOMPARE(taken, sent);
    QCOMPARE(ended, records);
}

QTEST_GUILESS_MAIN(ExchangeEngineTest)
#include "tst_exchangeengine.moc"

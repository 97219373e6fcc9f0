#include "e2esupport.h"

#include <QTcpServer>

// One-shot runs over TCP that end otherwise than with a report: invalid settings and
// parameters, an unreachable target, help, version and the parser's own errors, time-outs and
// a peer that closes. Loopback addresses 127.0.0.20 to 39.
class SettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void invalidParameters_data();
    void invalidParameters();
    void acceptedBoundaries_data();
    void acceptedBoundaries();
    void unreachableTarget_data();
    void unreachableTarget();
    void helpAndVersion_data();
    void helpAndVersion();
    void parserErrors_data();
    void parserErrors();
    void oneShotTimeout_data();
    void oneShotTimeout();
    void peerCloses_data();
    void peerCloses();
    void endlessResponse_data();
    void endlessResponse();
};

namespace {

QStringList withTarget(int lastOctet, const QStringList &arguments)
{
    return QStringList{QStringLiteral("--target"), e2e::loopbackAddress(lastOctet)} + arguments;
}

QString repeated(char character, int count)
{
    return QString(count, QLatin1Char(character));
}

} // namespace

void SettingsTest::invalidParameters_data()
{
    QTest::addColumn<QStringList>("arguments");
    // LC_ALL for the run, so that characters outside ASCII reach the program as such.
    QTest::addColumn<QString>("locale");
    const QString model = QStringLiteral("--get-model-number");
    const QString utf8 = QStringLiteral("C.UTF-8");

    QTest::newRow("node-number 18") << QStringList{"-n", "18", model} << QString();
    QTest::newRow("node-number -1") << QStringList{"--node-number", "-1", model} << QString();
    QTest::newRow("node-number x") << QStringList{"-n", "x", model} << QString();
    QTest::newRow("node-number empty") << QStringList{"-n", "", model} << QString();
    QTest::newRow("timeout-interval 999") << QStringList{"-i", "999", model} << QString();
    QTest::newRow("timeout-interval 60001")
        << QStringList{"--timeout-interval", "60001", model} << QString();
    QTest::newRow("timeout-interval 8s") << QStringList{"-i", "8s", model} << QString();
    QTest::newRow("output-format 4") << QStringList{"-o", "4", model} << QString();
    QTest::newRow("output-format -1") << QStringList{"--output-format", "-1", model} << QString();
    QTest::newRow("output-format one") << QStringList{"-o", "one", model} << QString();
    QTest::newRow("baud-rate 9600X") << QStringList{"-c", "9600X", model} << QString();
    QTest::newRow("baud-rate 9600E91") << QStringList{"--baud-rate", "9600E91", model} << QString();
    QTest::newRow("baud-rate 9600E1") << QStringList{"-c", "9600E1", model} << QString();
    QTest::newRow("read page 0") << QStringList{"-r", "0"} << QString();
    QTest::newRow("read page 18") << QStringList{"-r", "18"} << QString();
    QTest::newRow("read empty part") << QStringList{"-r", "1,,2"} << QString();
    QTest::newRow("read leading comma") << QStringList{"-r", ",1"} << QString();
    QTest::newRow("read range") << QStringList{"-r", "1-3"} << QString();
    QTest::newRow("read other separator") << QStringList{"-r", "1;2"} << QString();
    QTest::newRow("read hexadecimal page") << QStringList{"-r", "0x3"} << QString();
    QTest::newRow("read empty list") << QStringList{"--read", ""} << QString();
    QTest::newRow("write bad page list")
        << QStringList{"-w", "1,18", "0011223344556677"} << QString();
    QTest::newRow("write without tag data") << QStringList{"-w", "1"} << QString();
    QTest::newRow("write too little tag data") << QStringList{"-w", "1", "001122"} << QString();
    QTest::newRow("write too much tag data")
        << QStringList{"--write", "1", repeated('0', 258)} << QString();
    QTest::newRow("same-write too little tag data")
        << QStringList{"-s", "1,2", "00112233445566"} << QString();
    QTest::newRow("same-write too much tag data")
        << QStringList{"-s", "1,2", "001122334455667788"} << QString();
    QTest::newRow("same-write bad page list")
        << QStringList{"-s", "", "0011223344556677"} << QString();
    QTest::newRow("byte-write address 88") << QStringList{"-b", "88", "00"} << QString();
    QTest::newRow("byte-write address -1") << QStringList{"-b", "-1", "00"} << QString();
    QTest::newRow("byte-write address zz") << QStringList{"-b", "zz", "00"} << QString();
    QTest::newRow("byte-write empty address") << QStringList{"--byte-write", "", "00"} << QString();
    QTest::newRow("byte-write without tag data") << QStringList{"-b", "0"} << QString();
    QTest::newRow("byte-write too much tag data")
        << QStringList{"-b", "0", repeated('0', 258)} << QString();
    QTest::newRow("test with 271 characters")
        << QStringList{"--test", repeated('A', 271)} << QString();
    QTest::newRow("test with a control character") << QStringList{"--test", "a\tb"} << QString();
    QTest::newRow("test with a CR") << QStringList{"--test", "ab\rcd"} << QString();
    QTest::newRow("test with a Latin-1 letter") << QStringList{"--test", "caf\u00e9"} << utf8;
    QTest::newRow("test with a character Latin-1 lacks")
        << QStringList{"--test", "10\u20ac"} << utf8;
    QTest::newRow("write with a character Latin-1 lacks in the tag data")
        << QStringList{"-w", "1", "00112233", "4455667\u20ac"} << utf8;
    QTest::newRow("set-web-password with 17 characters")
        << QStringList{"--set-web-password", repeated('p', 17)} << QString();
    QTest::newRow("set-web-password with a character Latin-1 lacks")
        << QStringList{"--set-web-password", "pw\u20ac"} << utf8;
    QTest::newRow("set-ip-address 300.1.1.1")
        << QStringList{"--set-ip-address", "300.1.1.1"} << QString();
    QTest::newRow("set-ip-address not an address")
        << QStringList{"--set-ip-address", "not-an-address"} << QString();
    QTest::newRow("set-ip-address IPv6") << QStringList{"--set-ip-address", "fd00::1"} << QString();
    QTest::newRow("set-ip-address empty") << QStringList{"--set-ip-address", ""} << QString();
    QTest::newRow("set-subnet-mask 255.255.255.256")
        << QStringList{"--set-subnet-mask", "255.255.255.256"} << QString();
    QTest::newRow("interactive mode with node-number 18") << QStringList{"-n", "18"} << QString();
    QTest::newRow("interactive mode with baud-rate 9600X")
        << QStringList{"-c", "9600X"} << QString();
    QTest::newRow("several invalid values")
        << QStringList{"-n", "18", "-i", "1", "-o", "7", "-r", "0"} << QString();
}

void SettingsTest::invalidParameters()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, locale);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(20), qPrintable(simulator.errorString()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!locale.isEmpty()) {
        environment.insert(QStringLiteral("LC_ALL"), locale);
    }

    const e2e::Outcome outcome = e2e::runVorsel(withTarget(20, arguments), environment);
    E2E_COMPARE_OUTCOME(outcome, 3, "");
    QCOMPARE(simulator.received(), QByteArray());
}

void SettingsTest::acceptedBoundaries_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("output");
    const QString model = QStringLiteral("--get-model-number");
    const QByteArray modelReport = "V640-SIM01\n";
    const QByteArray ok = "OK: \n";

    QTest::newRow("node-number 17")
        << QStringList{"-n", "17", model} << QByteArray("1401") << modelReport;
    QTest::newRow("node-number 0")
        << QStringList{"-n", "0", model} << QByteArray("1401") << modelReport;
    QTest::newRow("timeout-interval 1000")
        << QStringList{"-i", "1000", model} << QByteArray("1401") << modelReport;
    QTest::newRow("timeout-interval 60000")
        << QStringList{"-i", "60000", model} << QByteArray("1401") << modelReport;
    QTest::newRow("output-format 3")
        << QStringList{"-o", "3", model} << QByteArray("1401") << modelReport;
    QTest::newRow("baud-rate with every field")
        << QStringList{"-c", "19200e72h", model} << QByteArray("1401") << modelReport;
    QTest::newRow("baud-rate without digits")
        << QStringList{"-c", "E71", model} << QByteArray("1401") << modelReport;
    QTest::newRow("test with 270 characters")
        << QStringList{"--test", repeated('A', 270)} << "10" + QByteArray(270, 'A')
        << QByteArray(270, 'A') + '\n';
    QTest::newRow("set-web-password with 16 characters")
        << QStringList{"--set-web-password", repeated('p', 16)} << "A2" + QByteArray(16, 'p') << ok;
    QTest::newRow("set-web-password empty")
        << QStringList{"--set-web-password", ""} << QByteArray("A2") << ok;
    QTest::newRow("write 16 pages")
        << QStringList{"-w", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16", repeated('0', 256)}
        << "02000003FFFC" + QByteArray(256, '0') << ok;
    QTest::newRow("byte-write 128 bytes at address 0")
        << QStringList{"-b", "0", repeated('F', 256)} << "040000" + QByteArray(256, 'F') << ok;
    QTest::newRow("byte-write one byte at address 0")
        << QStringList{"-b", "00", "12"} << QByteArray("04000012") << ok;
    QTest::newRow("read every page")
        << QStringList{"-r", "17,16,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1,1"}
        << QByteArray("01000007FFFC") << QByteArray("NG: 7b\n");
    QTest::newRow("set-ip-address with short octets")
        << QStringList{"--set-ip-address", "10.0.0.1"} << QByteArray("A300010000000001") << ok;
}

void SettingsTest::acceptedBoundaries()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(21), qPrintable(simulator.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(withTarget(21, arguments));
    E2E_COMPARE_OUTCOME(outcome, 0, output);
    QCOMPARE(simulator.received(), e2e::unaddressedFrame(message));
}

void SettingsTest::unreachableTarget_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("get-model-number") << QStringList{"--get-model-number"};
    QTest::newRow("interactive mode") << QStringList{};
    QTest::newRow("invalid node-number") << QStringList{"-n", "18", "--get-model-number"};
    QTest::newRow("invalid timeout-interval") << QStringList{"-i", "999", "--get-model-number"};
    QTest::newRow("invalid output-format") << QStringList{"-o", "9", "--get-model-number"};
    QTest::newRow("invalid baud-rate") << QStringList{"-c", "9600X", "--get-model-number"};
    QTest::newRow("invalid page list") << QStringList{"-r", "0"};
    QTest::newRow("frame that does not build") << QStringList{"--test", repeated('A', 271)};
}

void SettingsTest::unreachableTarget()
{
    QFETCH(QStringList, arguments);

    // Nothing listens on this address: the connection is refused at once.
    const e2e::Outcome outcome = e2e::runVorsel(withTarget(22, arguments));
    E2E_COMPARE_OUTCOME(outcome, 4, "");
}

void SettingsTest::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Texts that the output must hold; for the version, the whole output.
    QTest::addColumn<QByteArrayList>("fragments");
    const QByteArrayList version{"vorsel 20.4.1.68\n"};
    const QByteArrayList help{"--get-model-number", "Getting the Model Number.",
                              "-r, --read <peges>", "-t, --target <device>",
                              "[tag data]",         "ID tag data to be written"};

    QTest::newRow("--version") << QStringList{"--version"} << version;
    QTest::newRow("-v") << QStringList{"-v"} << version;
    QTest::newRow("--help") << QStringList{"--help"} << help;
    QTest::newRow("-h") << QStringList{"-h"} << help;
    QTest::newRow("--help with an operation")
        << QStringList{"--get-model-number", "--help"} << help;
    QTest::newRow("--version with an operation") << QStringList{"--reset", "--version"} << version;
}

void SettingsTest::helpAndVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, fragments);

    QTcpServer unit;
    QVERIFY2(e2e::listenAsUnit(&unit, 23), qPrintable(unit.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(withTarget(23, arguments));
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.standardError, QByteArray());
    QCOMPARE(outcome.exitCode, 0);
    if (fragments.size() == 1) {
        QCOMPARE(outcome.standardOutput, fragments.first());
    }
    for (const QByteArray &fragment : fragments) {
        QVERIFY2(outcome.standardOutput.contains(fragment), fragment.constData());
    }
    QVERIFY2(!unit.waitForNewConnection(0), "vorsel opened a link");
}

void SettingsTest::parserErrors_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("unknown long option") << QStringList{"--no-such-option"};
    QTest::newRow("unknown short option") << QStringList{"-x", "--get-model-number"};
    QTest::newRow("missing value") << QStringList{"--get-model-number", "--node-number"};
    QTest::newRow("missing page list") << QStringList{"--read"};
    QTest::newRow("value for an option without one") << QStringList{"--reset=1"};
}

void SettingsTest::parserErrors()
{
    QFETCH(QStringList, arguments);

    QTcpServer unit;
    QVERIFY2(e2e::listenAsUnit(&unit, 24), qPrintable(unit.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(withTarget(24, arguments));
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.standardOutput, QByteArray());
    QVERIFY2(!outcome.standardError.isEmpty(), "the parser's message is missing");
    QVERIFY2(!unit.waitForNewConnection(0), "vorsel opened a link");
}

void SettingsTest::oneShotTimeout_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    QTest::addColumn<QByteArray>("message");

    const QStringList model{"-i", "1000", "--get-model-number"};
    QTest::newRow("no answer") << model << QByteArrayList{"fault ignore-every 1"}
                               << QByteArray("1401");
    QTest::newRow("no answer at level 1")
        << QStringList{"-o", "1", "-i", "1000", "--get-model-number"}
        << QByteArrayList{"fault ignore-every 1"} << QByteArray("1401");
    QTest::newRow("answer after the time-out")
        << model << QByteArrayList{"fault delay 3000"} << QByteArray("1401");
    QTest::newRow("carriage return first")
        << model << QByteArrayList{"respond 0D"} << QByteArray("1401");
    QTest::newRow("endless response without carriage return")
        << model << QByteArrayList{"flood 10000000"} << QByteArray("1401");
    QTest::newRow("no carriage return") << QStringList{"-o", "1", "-i", "1000", "--reset"}
                                        << QByteArrayList{"respond 30303132"} << QByteArray("7F");
}

void SettingsTest::oneShotTimeout()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, message);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(25), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    // A run that got no answer must not report success, nor print anything.
    const e2e::Outcome outcome = e2e::runVorsel(withTarget(25, arguments));
    E2E_COMPARE_OUTCOME(outcome, 4, "");
    QCOMPARE(simulator.received(), e2e::unaddressedFrame(message));
}

void SettingsTest::peerCloses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("level 0") << QStringList{"--get-model-number"} << QByteArray("1401");
    QTest::newRow("level 1 with error-abort")
        << QStringList{"-a", "-o", "1", "--reset"} << QByteArray("7F");
}

void SettingsTest::peerCloses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(26), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"fault close on"}), qPrintable(simulator.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(withTarget(26, arguments));
    E2E_COMPARE_OUTCOME(outcome, 4, "");
    QCOMPARE(simulator.received(), e2e::unaddressedFrame(message));
}

void SettingsTest::endlessResponse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("output");

    // Far more than a frame and no CR until the end: the response is not a frame.
    QTest::newRow("level 0") << QStringList{} << QByteArray("NG: ffffffffffffffff\n");
    QTest::newRow("level 1") << QStringList{"-o", "1"} << QByteArray("\n");
    QTest::newRow("level 2") << QStringList{"-o", "2"} << QByteArray("1401\t\n");
}

void SettingsTest::endlessResponse()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(27), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"flood 10000000"}), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(withTarget(27, arguments + QStringList{"--get-model-number"})),
             qPrintable(vorsel.errorString()));
    vorsel.endInput();
    // The CR goes out behind the whole flood, once the command has brought the flood about.
    QVERIFY2(simulator.waitForReceived(5), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"send 0D"}), qPrintable(simulator.errorString()));

    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), e2e::unaddressedFrame("1401"));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"

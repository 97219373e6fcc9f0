#include "e2esupport.h"

// One-shot runs over TCP: each operation's frame on the wire and its report at every output
// level, error-abort, and several operations in one run. Loopback addresses 127.0.0.10 to 19.
class OperationsTest : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void outputLevels_data();
    void outputLevels();
    void errorAbort_data();
    void errorAbort();
    void severalOperations_data();
    void severalOperations();

private:
    void runAgainstSimulator(int lastOctet);
};

namespace {

const QByteArray pageOne = "0123456789ABCDEF";
const QByteArray pageTwo = "FEDCBA9876543210";
const QByteArray pageSeventeen = "00112233AABBCCDD";
const QByteArray pageOneReport = " 1: 01 23 45 67 89 AB CD EF\n";
const QByteArray pageTwoReport = " 2: FE DC BA 98 76 54 32 10\n";
const QByteArray pageSeventeenReport = "17: 00 11 22 33 AA BB CC DD\n";

// The simulator numbers tag pages from 0, the program from 1.
const QByteArray setPageOne = "page 0 " + pageOne;
const QByteArray setPageTwo = "page 1 " + pageTwo;
const QByteArray setPageSeventeen = "page 16 " + pageSeventeen;

} // namespace

// Columns shared by the tables: options after --target, control lines for the simulator before
// the run, the message the frame on the wire must carry (empty: nothing may be sent), the
// standard output and the exit status.
static void addRunColumns()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");
}

void OperationsTest::runAgainstSimulator(int lastOctet)
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startTcp(lastOctet), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(
        QStringList{QStringLiteral("--target"), e2e::loopbackAddress(lastOctet)} + arguments);
    E2E_COMPARE_OUTCOME(outcome, status, output);
    // Over TCP every frame is unaddressed, and exactly one goes out.
    QCOMPARE(simulator.received(),
             message.isEmpty() ? QByteArray() : e2e::unaddressedFrame(message));
}

void OperationsTest::operations_data()
{
    addRunColumns();
    const QByteArray ok = "OK: \n";

    QTest::newRow("read pages 1 and 2")
        << QStringList{"-r", "1,2"} << QByteArrayList{setPageOne, setPageTwo}
        << QByteArray("01000000000C") << pageOneReport + pageTwoReport << 0;
    QTest::newRow("read page 17") << QStringList{"--read", "17"} << QByteArrayList{setPageSeventeen}
                                  << QByteArray("010000040000") << pageSeventeenReport << 0;
    QTest::newRow("read pages 17 and 1 in ascending order")
        << QStringList{"-r", "17,1"} << QByteArrayList{setPageOne, setPageSeventeen}
        << QByteArray("010000040004") << pageOneReport + pageSeventeenReport << 0;
    QTest::newRow("write one page")
        << QStringList{"-w", "3", "0011223344556677"} << QByteArrayList{}
        << QByteArray("0200000000100011223344556677") << ok << 0;
    QTest::newRow("write tag data in lower case and two arguments")
        << QStringList{"--write", "1,2", "0011aabbccddeeff", "8899aabbccddeeff"} << QByteArrayList{}
        << QByteArray("02000000000C0011AABBCCDDEEFF8899AABBCCDDEEFF") << ok << 0;
    QTest::newRow("same-write") << QStringList{"-s", "2,4", "a1b2c3d4", "e5f60718"}
                                << QByteArrayList{} << QByteArray("030000000028A1B2C3D4E5F60718")
                                << ok << 0;
    QTest::newRow("byte-write at address 87")
        << QStringList{"-b", "87", "5a"} << QByteArrayList{} << QByteArray("0400875A") << ok << 0;
    QTest::newRow("byte-write at address 7")
        << QStringList{"--byte-write", "7", "0102"} << QByteArrayList{} << QByteArray("0400070102")
        << ok << 0;
    QTest::newRow("byte-write at address a")
        << QStringList{"-b", "a", "ff"} << QByteArrayList{} << QByteArray("04000AFF") << ok << 0;
    QTest::newRow("test keeps the case of its text")
        << QStringList{"--test", "abc DEF"} << QByteArrayList{} << QByteArray("10abc DEF")
        << QByteArray("abc DEF\n") << 0;
    QTest::newRow("test without text") << QStringList{"--test", ""} << QByteArrayList{}
                                       << QByteArray("10") << QByteArray("\n") << 0;
    QTest::newRow("nak") << QStringList{"--nak"} << QByteArrayList{"respond 3030414243440D"}
                         << QByteArray("12") << QByteArray("last response: 00ABCD\n") << 0;
    QTest::newRow("get-model-number")
        << QStringList{"--get-model-number"} << QByteArrayList{"set model XR-17 B"}
        << QByteArray("1401") << QByteArray("XR-17 B\n") << 0;
    QTest::newRow("get-model-number ignores positional arguments")
        << QStringList{"--get-model-number", "0011"} << QByteArrayList{} << QByteArray("1401")
        << QByteArray("V640-SIM01\n") << 0;
    QTest::newRow("get-firmware-version 0209")
        << QStringList{"--get-firmware-version"} << QByteArrayList{"set firmware 0209"}
        << QByteArray("1402") << QByteArray("2.09\n") << 0;
    QTest::newRow("get-firmware-version 010A")
        << QStringList{"--get-firmware-version"} << QByteArrayList{"set firmware 010A"}
        << QByteArray("1402") << QByteArray("1.10\n") << 0;
    QTest::newRow("get-firmware-version 0110")
        << QStringList{"--get-firmware-version"} << QByteArrayList{"set firmware 0110"}
        << QByteArray("1402") << QByteArray("1.16\n") << 0;
    QTest::newRow("get-mac-address")
        << QStringList{"--get-mac-address"} << QByteArrayList{"set mac 001122AABBCC"}
        << QByteArray("1403") << QByteArray("00:11:22:AA:BB:CC\n") << 0;
    QTest::newRow("get-dip-switch-status enabled")
        << QStringList{"--get-dip-switch-status"} << QByteArrayList{"set dip 01"}
        << QByteArray("1410") << QByteArray("enabled\n") << 0;
    QTest::newRow("get-dip-switch-status disabled")
        << QStringList{"--get-dip-switch-status"} << QByteArrayList{"set dip 00"}
        << QByteArray("1410") << QByteArray("disabled\n") << 0;
    QTest::newRow("get-ip-address-on-dip-switch")
        << QStringList{"--get-ip-address-on-dip-switch"}
        << QByteArrayList{"set ip-dip 192168001200"} << QByteArray("1411")
        << QByteArray("192.168.1.200\n") << 0;
    QTest::newRow("get-subnet-mask-on-dip-switch")
        << QStringList{"--get-subnet-mask-on-dip-switch"}
        << QByteArrayList{"set mask-dip 255255255000"} << QByteArray("1412")
        << QByteArray("255.255.255.0\n") << 0;
    QTest::newRow("get-ip-address-in-rom")
        << QStringList{"--get-ip-address-in-rom"} << QByteArrayList{"set ip-rom 010000000001"}
        << QByteArray("1413") << QByteArray("10.0.0.1\n") << 0;
    QTest::newRow("get-subnet-mask-in-rom")
        << QStringList{"--get-subnet-mask-in-rom"} << QByteArrayList{"set mask-rom 255255000000"}
        << QByteArray("1414") << QByteArray("255.255.0.0\n") << 0;
    QTest::newRow("get-memory-status normal")
        << QStringList{"--get-memory-status"} << QByteArrayList{"set memory 01"}
        << QByteArray("1420") << QByteArray("normal\n") << 0;
    QTest::newRow("get-memory-status error")
        << QStringList{"--get-memory-status"} << QByteArrayList{"set memory 00"}
        << QByteArray("1420") << QByteArray("error\n") << 0;
    QTest::newRow("get-antenna-connection-status correctly")
        << QStringList{"--get-antenna-connection-status"} << QByteArrayList{"set antenna 01"}
        << QByteArray("1421") << QByteArray("correctly\n") << 0;
    QTest::newRow("get-antenna-connection-status not correctly")
        << QStringList{"--get-antenna-connection-status"} << QByteArrayList{"set antenna 00"}
        << QByteArray("1421") << QByteArray("not correctly\n") << 0;
    QTest::newRow("get-last-command 0100")
        << QStringList{"--get-last-command"} << QByteArrayList{"set last-command 0100"}
        << QByteArray("15") << QByteArray("command code: 0100\n") << 0;
    QTest::newRow("get-last-command 7F")
        << QStringList{"--get-last-command"} << QByteArrayList{"set last-command 7F"}
        << QByteArray("15") << QByteArray("command code: 7f\n") << 0;
    QTest::newRow("get-last-command A300")
        << QStringList{"--get-last-command"} << QByteArrayList{"set last-command A300"}
        << QByteArray("15") << QByteArray("command code: a300\n") << 0;
    QTest::newRow("get-communications-history")
        << QStringList{"--get-communications-history"}
        << QByteArrayList{"set history 000A 0009 0001"} << QByteArray("16")
        << QByteArray("     total:    10\nsuccessful:     9\n    failed:     1\n") << 0;
    QTest::newRow("clear-communications-history")
        << QStringList{"--clear-communications-history"} << QByteArrayList{} << QByteArray("17")
        << ok << 0;
    QTest::newRow("noise-measurement 07")
        << QStringList{"--noise-measurement"} << QByteArrayList{"set noise 07"} << QByteArray("40")
        << QByteArray(" 7\n") << 0;
    QTest::newRow("noise-measurement 42")
        << QStringList{"--noise-measurement"} << QByteArrayList{"set noise 42"} << QByteArray("40")
        << QByteArray("42\n") << 0;
    QTest::newRow("reset") << QStringList{"--reset"} << QByteArrayList{} << QByteArray("7F") << ok
                           << 0;
    QTest::newRow("set-web-password") << QStringList{"--set-web-password", "Pw 9x"}
                                      << QByteArrayList{} << QByteArray("A2Pw 9x") << ok << 0;
    QTest::newRow("set-ip-address")
        << QStringList{"--set-ip-address", "172.16.5.9"} << QByteArrayList{}
        << QByteArray("A300172016005009") << ok << 0;
    QTest::newRow("set-subnet-mask")
        << QStringList{"--set-subnet-mask", "255.255.255.0"} << QByteArrayList{}
        << QByteArray("A301255255255000") << ok << 0;
}

void OperationsTest::operations()
{
    runAgainstSimulator(10);
}

void OperationsTest::outputLevels_data()
{
    addRunColumns();
    const QByteArrayList firmware{"set firmware 0209"};
    const QByteArrayList noTag{"fault no-tag on"};
    const QByteArrayList badByte{"fault bad-byte on"};

    QTest::newRow("level 0") << QStringList{"-o", "0", "--get-firmware-version"} << firmware
                             << QByteArray("1402") << QByteArray("2.09\n") << 0;
    QTest::newRow("level 1") << QStringList{"-o", "1", "--get-firmware-version"} << firmware
                             << QByteArray("1402") << QByteArray("000209\n") << 0;
    QTest::newRow("level 2") << QStringList{"--output-format", "2", "--get-firmware-version"}
                             << firmware << QByteArray("1402") << QByteArray("1402\t000209\n") << 0;
    QTest::newRow("level 3") << QStringList{"-o", "3", "--get-firmware-version"} << firmware
                             << QByteArray("1402") << QByteArray("2.09\n") << 0;
    QTest::newRow("level 3 read pages")
        << QStringList{"-o", "3", "-r", "1,2"} << QByteArrayList{setPageOne, setPageTwo}
        << QByteArray("01000000000C") << pageOneReport + pageTwoReport << 0;
    QTest::newRow("level 1 read pages")
        << QStringList{"-o", "1", "-r", "1,2"} << QByteArrayList{setPageOne, setPageTwo}
        << QByteArray("01000000000C") << "00" + pageOne + pageTwo + "\n"
        << 0;
    QTest::newRow("level 0 error end") << QStringList{"-r", "1"} << noTag
                                       << QByteArray("010000000004") << QByteArray("NG: 72\n") << 0;
    QTest::newRow("level 1 error end") << QStringList{"-o", "1", "-r", "1"} << noTag
                                       << QByteArray("010000000004") << QByteArray("72\n") << 0;
    QTest::newRow("level 2 error end")
        << QStringList{"-o", "2", "-r", "1"} << noTag << QByteArray("010000000004")
        << QByteArray("010000000004\t72\n") << 0;
    QTest::newRow("level 3 error end") << QStringList{"-o", "3", "-r", "1"} << noTag
                                       << QByteArray("010000000004") << QByteArray("NG: 72\n") << 0;
    QTest::newRow("level 0 error end 7B")
        << QStringList{"--reset"} << QByteArrayList{"respond 37420D"} << QByteArray("7F")
        << QByteArray("NG: 7b\n") << 0;
    QTest::newRow("level 0 code not in the table")
        << QStringList{"--reset"} << QByteArrayList{"respond 58590D"} << QByteArray("7F")
        << QByteArray("NG: ffffffffffffffff\n") << 0;
    QTest::newRow("level 0 response not a frame")
        << QStringList{"--get-model-number"} << badByte << QByteArray("1401")
        << QByteArray("NG: ffffffffffffffff\n") << 0;
    QTest::newRow("level 1 response not a frame")
        << QStringList{"-o", "1", "--get-model-number"} << badByte << QByteArray("1401")
        << QByteArray("\n") << 0;
    QTest::newRow("level 2 response not a frame")
        << QStringList{"-o", "2", "--get-model-number"} << badByte << QByteArray("1401")
        << QByteArray("1401\t\n") << 0;
    QTest::newRow("level 1 response in pieces")
        << QStringList{"-o", "1", "--get-model-number"} << QByteArrayList{"fault split 3 30"}
        << QByteArray("1401") << QByteArray("00V640-SIM01\n") << 0;
    QTest::newRow("level 1 late response")
        << QStringList{"-o", "1", "--get-model-number"} << QByteArrayList{"fault delay 300"}
        << QByteArray("1401") << QByteArray("00V640-SIM01\n") << 0;
    QTest::newRow("level 1 line feed after the response")
        << QStringList{"-o", "1", "--get-model-number"} << QByteArrayList{"fault trailing 0A"}
        << QByteArray("1401") << QByteArray("00V640-SIM01\n") << 0;
    QTest::newRow("level 2 second frame after the response")
        << QStringList{"-o", "2", "--get-model-number"} << QByteArrayList{"fault trailing 30300D"}
        << QByteArray("1401") << QByteArray("1401\t00V640-SIM01\n") << 0;
}

void OperationsTest::outputLevels()
{
    runAgainstSimulator(11);
}

void OperationsTest::errorAbort_data()
{
    addRunColumns();
    const QByteArrayList noTag{"fault no-tag on"};

    QTest::newRow("error end") << QStringList{"-a", "-r", "1"} << noTag
                               << QByteArray("010000000004") << QByteArray("NG: 72\n") << 2;
    QTest::newRow("error end without error-abort")
        << QStringList{"-r", "1"} << noTag << QByteArray("010000000004") << QByteArray("NG: 72\n")
        << 0;
    QTest::newRow("error end at level 1")
        << QStringList{"--error-abort", "-o", "1", "-r", "1"} << noTag << QByteArray("010000000004")
        << QByteArray("72\n") << 2;
    QTest::newRow("error end at level 2")
        << QStringList{"-a", "-o", "2", "-r", "1"} << noTag << QByteArray("010000000004")
        << QByteArray("010000000004\t72\n") << 2;
    QTest::newRow("raw error end 72")
        << QStringList{"-a", "--reset"} << QByteArrayList{"respond 37320D"} << QByteArray("7F")
        << QByteArray("NG: 72\n") << 2;
    QTest::newRow("normal end") << QStringList{"-a", "--get-model-number"} << QByteArrayList{}
                                << QByteArray("1401") << QByteArray("V640-SIM01\n") << 0;
    QTest::newRow("code not in the table")
        << QStringList{"-a", "-o", "1", "--reset"} << QByteArrayList{"respond 58590D"}
        << QByteArray("7F") << QByteArray("XY\n") << 2;
    QTest::newRow("response not a frame")
        << QStringList{"-a", "-o", "1", "--reset"} << QByteArrayList{"fault bad-byte on"}
        << QByteArray("7F") << QByteArray("\n") << 2;
}

void OperationsTest::errorAbort()
{
    runAgainstSimulator(12);
}

void OperationsTest::severalOperations_data()
{
    addRunColumns();
    const QString overlongTest(271, QLatin1Char('A'));

    QTest::newRow("get-model-number and reset")
        << QStringList{"--get-model-number", "--reset"} << QByteArrayList{} << QByteArray("7F")
        << QByteArray("OK: \n") << 0;
    QTest::newRow("reset and get-model-number")
        << QStringList{"--reset", "--get-model-number"} << QByteArrayList{} << QByteArray("7F")
        << QByteArray("OK: \n") << 0;
    QTest::newRow("read and get-model-number")
        << QStringList{"-r", "1", "--get-model-number"} << QByteArrayList{} << QByteArray("1401")
        << QByteArray("V640-SIM01\n") << 0;
    QTest::newRow("test and set-subnet-mask")
        << QStringList{"--set-subnet-mask", "255.0.0.0", "--test", "x"} << QByteArrayList{}
        << QByteArray("A301255000000000") << QByteArray("OK: \n") << 0;
    QTest::newRow("an earlier frame that does not build")
        << QStringList{"--test", overlongTest, "--reset"} << QByteArrayList{} << QByteArray("7F")
        << QByteArray("OK: \n") << 0;
    QTest::newRow("the last frame does not build")
        << QStringList{"--reset", "--set-web-password", "seventeen chars!!"} << QByteArrayList{}
        << QByteArray() << QByteArray() << 3;
    QTest::newRow("an invalid page list beside a valid operation")
        << QStringList{"--get-model-number", "-r", "0"} << QByteArrayList{} << QByteArray()
        << QByteArray() << 3;
}

void OperationsTest::severalOperations()
{
    runAgainstSimulator(13);
}

QTEST_GUILESS_MAIN(OperationsTest)
#include "tst_operations.moc"

#include <QtTest>

#include "serialcommunicationsetting.h"

class SerialCommunicationSettingTest : public QObject
{
    Q_OBJECT

private slots:
    void grammar_data();
    void grammar();
    void flowControlArgumentIsOverriddenByLetter();
    void invalidStaysInvalid();
};

void SerialCommunicationSettingTest::grammar_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QSerialPort::Parity>("parity");
    QTest::addColumn<QSerialPort::DataBits>("dataBits");
    QTest::addColumn<QSerialPort::StopBits>("stopBits");
    QTest::addColumn<QSerialPort::FlowControl>("flowControl");
    QTest::addColumn<bool>("valid");

    const auto none = QSerialPort::NoParity;
    const auto even = QSerialPort::EvenParity;
    const auto odd = QSerialPort::OddParity;
    const auto d5 = QSerialPort::Data5;
    const auto d7 = QSerialPort::Data7;
    const auto d8 = QSerialPort::Data8;
    const auto s1 = QSerialPort::OneStop;
    const auto s2 = QSerialPort::TwoStop;
    const auto s15 = QSerialPort::OneAndHalfStop;
    const auto noFlow = QSerialPort::NoFlowControl;
    const auto hardware = QSerialPort::HardwareControl;
    const auto software = QSerialPort::SoftwareControl;

    QTest::newRow("rate only") << "9600" << 9600 << none << d8 << s1 << noFlow << true;
    QTest::newRow("lower-case parity") << "19200e71" << 19200 << even << d7 << s1 << noFlow << true;
    QTest::newRow("every field") << "38400O82H" << 38400 << odd << d8 << s2 << hardware << true;
    QTest::newRow("one and a half stop bits")
        << "115200N83S" << 115200 << none << d8 << s15 << software << true;
    QTest::newRow("no rate digits") << "E71" << 0 << even << d7 << s1 << noFlow << true;
    QTest::newRow("empty text") << "" << 0 << none << d8 << s1 << noFlow << true;
    QTest::newRow("lower-case flow") << "4800o52s" << 4800 << odd << d5 << s2 << software << true;
    QTest::newRow("flow letter without parity")
        << "1200H" << 1200 << none << d8 << s1 << hardware << true;
    QTest::newRow("rate too large for int")
        << "99999999999" << 0 << none << d8 << s1 << noFlow << true;
    // Without a parity letter every digit belongs to the rate.
    QTest::newRow("digits after rate") << "960081" << 960081 << none << d8 << s1 << noFlow << true;

    // A single digit after the parity letter is the data-bits digit.
    QTest::newRow("one data bit") << "9600E1" << 9600 << even << d8 << s1 << noFlow << false;
    QTest::newRow("data and stop bits") << "9600E81" << 9600 << even << d8 << s1 << noFlow << true;
    // Fields before a bad digit keep their new values, later fields are still parsed.
    QTest::newRow("data bits 9") << "9600E91" << 9600 << even << d8 << s1 << noFlow << false;
    QTest::newRow("data bits 0 then flow")
        << "2400O02H" << 2400 << odd << d8 << s2 << hardware << false;
    QTest::newRow("stop bits 0") << "9600E70" << 9600 << even << d7 << s1 << noFlow << false;
    QTest::newRow("stop bits 4 then flow")
        << "9600E74S" << 9600 << even << d7 << s1 << software << false;

    // A text that does not match changes nothing but the flag.
    QTest::newRow("unknown parity letter")
        << "9600X" << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("unknown flow letter")
        << "19200E71X" << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("separator") << "19200,E,7,1" << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("second parity letter")
        << "19200EE" << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("trailing space") << "19200 " << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("negative rate") << "-9600" << 9600 << none << d8 << s1 << noFlow << false;
    QTest::newRow("too many digits") << "9600E812" << 9600 << none << d8 << s1 << noFlow << false;
}

void SerialCommunicationSettingTest::grammar()
{
    QFETCH(QString, text);
    SerialCommunicationSetting setting;
    setting.setProperties(text);

    QTEST(setting.baudRate(), "baudRate");
    QTEST(setting.parity(), "parity");
    QTEST(setting.dataBits(), "dataBits");
    QTEST(setting.stopBits(), "stopBits");
    QTEST(setting.flowControl(), "flowControl");
    QTEST(setting.isValid(), "valid");
}

void SerialCommunicationSettingTest::flowControlArgumentIsOverriddenByLetter()
{
    const SerialCommunicationSetting fromArgument(QStringLiteral("9600"),
                                                  QSerialPort::HardwareControl);
    QCOMPARE(fromArgument.flowControl(), QSerialPort::HardwareControl);
    QVERIFY(fromArgument.isValid());

    const SerialCommunicationSetting fromLetter(QStringLiteral("9600N81S"),
                                                QSerialPort::HardwareControl);
    QCOMPARE(fromLetter.flowControl(), QSerialPort::SoftwareControl);

    const SerialCommunicationSetting invalid(QStringLiteral("9600?"), QSerialPort::SoftwareControl);
    QCOMPARE(invalid.flowControl(), QSerialPort::SoftwareControl);
    QVERIFY(!invalid.isValid());
}

void SerialCommunicationSettingTest::invalidStaysInvalid()
{
    SerialCommunicationSetting setting;
    setting.setBaudRate(-5);
    QCOMPARE(setting.baudRate(), -1);
    QVERIFY(!setting.isValid());

    setting.setProperties(QStringLiteral("19200E71"));
    QCOMPARE(setting.baudRate(), 19200);
    QCOMPARE(setting.parity(), QSerialPort::EvenParity);
    QVERIFY(!setting.isValid());
}

QTEST_APPLESS_MAIN(SerialCommunicationSettingTest)
#include "tst_serialcommunicationsetting.moc"

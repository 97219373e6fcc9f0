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
    // Rate, parity, data bits, stop bits, flow control ("-": none) and validity.
    QTest::addColumn<QString>("fields");
    const auto row = [](const char *name, const QString &text, const QString &fields) {
        QTest::newRow(name) << text << fields;
    };

    row("rate only", "9600", "9600 N 8 1 - valid");
    row("lower-case parity", "19200e71", "19200 E 7 1 - valid");
    row("every field", "38400O82H", "38400 O 8 2 H valid");
    row("one and a half stop bits", "115200N83S", "115200 N 8 1.5 S valid");
    row("no rate digits", "E71", "0 E 7 1 - valid");
    row("empty text", "", "0 N 8 1 - valid");
    row("lower-case flow", "4800o52s", "4800 O 5 2 S valid");
    row("flow letter without parity", "1200H", "1200 N 8 1 H valid");
    row("rate too large for int", "99999999999", "0 N 8 1 - valid");
    // Without a parity letter every digit belongs to the rate.
    row("digits after rate", "960081", "960081 N 8 1 - valid");

    // A single digit after the parity letter is the data-bits digit.
    row("one data bit", "9600E1", "9600 E 8 1 - invalid");
    row("data and stop bits", "9600E81", "9600 E 8 1 - valid");
    // Fields before a bad digit keep their new values, later fields are still parsed.
    row("data bits 9", "9600E91", "9600 E 8 1 - invalid");
    row("data bits 0 then flow", "2400O02H", "2400 O 8 2 H invalid");
    row("stop bits 0", "9600E70", "9600 E 7 1 - invalid");
    row("stop bits 4 then flow", "9600E74S", "9600 E 7 1 S invalid");

    // A text that does not match changes nothing but the flag.
    row("unknown parity letter", "9600X", "9600 N 8 1 - invalid");
    row("unknown flow letter", "19200E71X", "9600 N 8 1 - invalid");
    row("separator", "19200,E,7,1", "9600 N 8 1 - invalid");
    row("second parity letter", "19200EE", "9600 N 8 1 - invalid");
    row("trailing space", "19200 ", "9600 N 8 1 - invalid");
    row("trailing line feed", "19200\n", "9600 N 8 1 - invalid");
    // Only ASCII digits and letters.
    row("Arabic-Indic digit", "96\u0661", "9600 N 8 1 - invalid");
    row("long s", "9600N81\u017f", "9600 N 8 1 - invalid");
    row("negative rate", "-9600", "9600 N 8 1 - invalid");
    row("too many digits", "9600E812", "9600 N 8 1 - invalid");
}

void SerialCommunicationSettingTest::grammar()
{
    QFETCH(QString, text);
    SerialCommunicationSetting setting;
    setting.setProperties(text);
    const QStringList fields = {QString::number(setting.baudRate()),
                                QStringLiteral("N?EOSM").mid(setting.parity(), 1),
                                QString::number(setting.dataBits()),
                                setting.stopBits() == QSerialPort::OneAndHalfStop
                                    ? QStringLiteral("1.5")
                                    : QString::number(setting.stopBits()),
                                QStringLiteral("-HS").mid(setting.flowControl(), 1),
                                setting.isValid() ? "valid" : "invalid"};
    QTEST(fields.join(' '), "fields");
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

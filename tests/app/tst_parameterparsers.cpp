#include <QtTest>

#include "consoleapplicationmain.h"

class ParameterParsersTest : public QObject
{
    Q_OBJECT

private slots:
    void pages_data();
    void pages();
    void ipAddress_data();
    void ipAddress();
};

void ParameterParsersTest::pages_data()
{
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QString>("mask");
    const auto row = [](const char *name, const QString &pages, const QString &mask) {
        QTest::newRow(name) << pages << mask;
    };

    row("page 1 is bit 2", "1", "00000004");
    row("three pages", "1,2,3", "0000001C");
    row("order and repeats do not matter", "3,1,2,1", "0000001C");
    row("first and last", "1,17", "00040004");
    row("every page", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17", "0007FFFC");
    row("upper-case digits", "10,11,12,13", "00007800");

    // Every error gives the empty string, even after good parts.
    row("page 0", "0", QString());
    row("page 18", "18", QString());
    row("bad part after good ones", "1,2,18", QString());
    row("empty part", "1,,2", QString());
    row("leading comma", ",1", QString());
    row("trailing comma", "1,", QString());
    row("range syntax", "1-3", QString());
    row("other separator", "1;2", QString());
    row("hexadecimal page", "0x3", QString());
    row("negative page", "-1", QString());
    row("empty text", "", QString());
    row("space before", " 1", QString());
    row("space after", "1 ", QString());
    row("plus sign", "+1", QString());
    row("Arabic-Indic digit", QString::fromUtf8("\u0661"), QString());
}

void ParameterParsersTest::pages()
{
    QFETCH(QString, pages);
    QFETCH(QString, mask);
    const QString result = ConsoleApplicationMain().parsePagesParameter(pages);
    QCOMPARE(result, mask);
    QCOMPARE(result.isNull(), mask.isNull());
}

void ParameterParsersTest::ipAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("digits");
    const auto row = [](const char *name, const QString &address, const QString &digits) {
        QTest::newRow(name) << address << digits;
    };

    row("private address", "172.16.5.9", "172016005009");
    row("subnet mask", "255.255.255.0", "255255255000");
    row("small octets are zero-padded", "10.0.0.1", "010000000001");
    row("all zero", "0.0.0.0", "000000000000");

    row("leading zeros are decimal", "192.168.010.050", "192168010050");

    row("octet out of range", "300.1.1.1", QString());
    row("one part", "10", QString());
    row("two parts", "1.2", QString());
    row("one number", "3232235826", QString());
    row("hexadecimal part", "255.255.255.0x0", QString());
    row("five parts", "1.2.3.4.5", QString());
    row("empty part", "1..2.3", QString());
    row("sign", "1.2.3.+4", QString());
    row("host name", "unit.example", QString());
    row("IPv6 only", "2001:db8::1", QString());
    row("empty text", "", QString());
}

void ParameterParsersTest::ipAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, digits);
    const QString result = ConsoleApplicationMain().parseIPAddressParameter(address);
    QCOMPARE(result, digits);
    QCOMPARE(result.isNull(), digits.isNull());
}

QTEST_GUILESS_MAIN(ParameterParsersTest)
#include "tst_parameterparsers.moc"

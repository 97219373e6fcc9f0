#include <QtTest>

#include "controllerprobe.h"

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

    QTest::newRow("page 1 is bit 2") << "1"
                                     << "00000004";
    QTest::newRow("three pages") << "1,2,3"
                                 << "0000001C";
    QTest::newRow("order and repeats do not matter") << "3,1,2,1"
                                                     << "0000001C";
    QTest::newRow("page 17") << "17"
                             << "00040000";
    QTest::newRow("first and last") << "1,17"
                                    << "00040004";
    QTest::newRow("every page") << "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"
                                << "0007FFFC";
    QTest::newRow("upper-case digits") << "10,11,12,13"
                                       << "00007800";

    // Every error gives the empty string, even after good parts.
    QTest::newRow("page 0") << "0" << QString();
    QTest::newRow("page 18") << "18" << QString();
    QTest::newRow("bad part after good ones") << "1,2,18" << QString();
    QTest::newRow("empty part") << "1,,2" << QString();
    QTest::newRow("leading comma") << ",1" << QString();
    QTest::newRow("trailing comma") << "1," << QString();
    QTest::newRow("range syntax") << "1-3" << QString();
    QTest::newRow("other separator") << "1;2" << QString();
    QTest::newRow("hexadecimal page") << "0x3" << QString();
    QTest::newRow("negative page") << "-1" << QString();
    QTest::newRow("empty text") << "" << QString();
    QTest::newRow("space before") << " 1" << QString();
    QTest::newRow("space after") << "1 " << QString();
    QTest::newRow("plus sign") << "+1" << QString();
    QTest::newRow("Arabic-Indic digit") << QString::fromUtf8("\u0661") << QString();
}

void ParameterParsersTest::pages()
{
    QFETCH(QString, pages);
    QFETCH(QString, mask);
    const QString result = ControllerProbe().parsePages(pages);
    QCOMPARE(result, mask);
    QCOMPARE(result.isNull(), mask.isNull());
}

void ParameterParsersTest::ipAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("digits");

    QTest::newRow("private address") << "172.16.5.9"
                                     << "172016005009";
    QTest::newRow("subnet mask") << "255.255.255.0"
                                 << "255255255000";
    QTest::newRow("small octets are zero-padded") << "10.0.0.1"
                                                  << "010000000001";
    QTest::newRow("all zero") << "0.0.0.0"
                              << "000000000000";

    QTest::newRow("leading zeros are decimal") << "192.168.010.050"
                                               << "192168010050";

    QTest::newRow("octet out of range") << "300.1.1.1" << QString();
    QTest::newRow("one part") << "10" << QString();
    QTest::newRow("two parts") << "1.2" << QString();
    QTest::newRow("one number") << "3232235826" << QString();
    QTest::newRow("hexadecimal part") << "255.255.255.0x0" << QString();
    QTest::newRow("five parts") << "1.2.3.4.5" << QString();
    QTest::newRow("empty part") << "1..2.3" << QString();
    QTest::newRow("sign") << "1.2.3.+4" << QString();
    QTest::newRow("host name") << "unit.example" << QString();
    QTest::newRow("IPv6 only") << "2001:db8::1" << QString();
    QTest::newRow("empty text") << "" << QString();
}

void ParameterParsersTest::ipAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, digits);
    const QString result = ControllerProbe().parseIPAddress(address);
    QCOMPARE(result, digits);
    QCOMPARE(result.isNull(), digits.isNull());
}

QTEST_GUILESS_MAIN(ParameterParsersTest)
#include "tst_parameterparsers.moc"

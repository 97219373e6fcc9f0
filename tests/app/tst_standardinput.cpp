#include <QtTest>

#include <unistd.h>

#include "standardinput.h"

// The device beneath the controller's input stream must hand out one line per read, so that
// lines that arrive together stay visible as pending input.
class StandardInputTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void linesWrittenTogetherStayPending();
    void halfALineWaitsForTheRest();
    void lastLineWithoutLineFeed();
    void overlongLineKeepsItsStartOnly();

private:
    void write(const QByteArray &bytes)
    {
        QCOMPARE(::write(writeEnd, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
    }
    void closeWriteEnd()
    {
        ::close(writeEnd);
        writeEnd = -1;
    }

    int readEnd = -1;
    int writeEnd = -1;
};

void StandardInputTest::init()
{
    int descriptors[2];
    QCOMPARE(pipe(descriptors), 0);
    readEnd = descriptors[0];
    writeEnd = descriptors[1];
}

void StandardInputTest::cleanup()
{
    ::close(readEnd);
    if (writeEnd >= 0) {
        ::close(writeEnd);
    }
}

void StandardInputTest::linesWrittenTogetherStayPending()
{
    StandardInput input(readEnd, 16);
    QTextStream stream(&input);
    write("1401\r\n15\n16\n");
    QVERIFY(input.receive());

    QCOMPARE(stream.readLine(), QStringLiteral("1401"));
    QVERIFY(input.hasPendingInput());
    QCOMPARE(stream.readLine(), QStringLiteral("15"));
    QVERIFY(input.hasPendingInput());
    QCOMPARE(stream.readLine(), QStringLiteral("16"));
    QVERIFY(!input.hasPendingInput());
    QVERIFY(!stream.atEnd());

    closeWriteEnd();
    QVERIFY(input.receive());
    QCOMPARE(stream.readLine(), QString());
    QVERIFY(stream.atEnd());
}

void StandardInputTest::halfALineWaitsForTheRest()
{
    StandardInput input(readEnd, 16);
    QTextStream stream(&input);
    write("14");
    QVERIFY(!input.receive());
    write("01\n\n");
    QVERIFY(input.receive());
    QCOMPARE(stream.readLine(), QStringLiteral("1401"));
    // An empty line is not the end of input.
    QCOMPARE(stream.readLine(), QString(""));
    QVERIFY(!stream.atEnd());
}

void StandardInputTest::lastLineWithoutLineFeed()
{
    StandardInput input(readEnd, 16);
    QTextStream stream(&input);
    write("10AB\n7F");
    closeWriteEnd();
    QVERIFY(input.receive());
    QCOMPARE(stream.readLine(), QStringLiteral("10AB"));
    // Only the end of input makes the last half line a line.
    QVERIFY(!input.hasPendingInput());
    QVERIFY(input.receive());
    QCOMPARE(stream.readLine(), QStringLiteral("7F"));
    QVERIFY(stream.atEnd());
}

void StandardInputTest::overlongLineKeepsItsStartOnly()
{
    StandardInput input(readEnd, 16);
    QTextStream stream(&input);
    // Ten reads of at most 4 KiB take it all, with nothing left to block on.
    write(QByteArray(40000, 'A'));
    for (int i = 0; i < 10; ++i) {
        QVERIFY(!input.receive());
        QVERIFY(input.bytesAvailable() <= 16);
    }
    write("B\n15\n");
    QVERIFY(input.receive());
    QCOMPARE(stream.readLine(), QString(16, 'A'));
    QVERIFY(input.hasPendingInput());
    QCOMPARE(stream.readLine(), QStringLiteral("15"));
}

QTEST_GUILESS_MAIN(StandardInputTest)
#include "tst_standardinput.moc"

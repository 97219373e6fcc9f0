#include "e2e.h"

using e2e::addRow;

// vorsel under valgrind's memcheck: any error, or memory definitely lost, ends it with 99 and a
// report on standard error.
class MemcheckTest : public QObject
{
    Q_OBJECT

private slots:
    void oneShot_data();
    void oneShot() { e2e::runRow(40, memcheck); }
    void interactive_data();
    void interactive() { e2e::runRow(e2e::onPty, memcheck); }

private:
    const QStringList memcheck{VALGRIND_PROGRAM,
                               "--quiet",
                               "--sim-hints=lax-ioctls",
                               "--leak-check=full",
                               "--show-leak-kinds=definite",
                               "--errors-for-leak-kinds=definite",
                               "--error-exitcode=99"};
};

void MemcheckTest::oneShot_data()
{
    e2e::addColumns();
    addRow(
        "read over TCP", "-r 1,2",
        {"!page 0 0123456789ABCDEF", "= 1: 01 23 45 67 89 AB CD EF\n 2: 00 00 00 00 00 00 00 00\n"},
        {"01000000000C"});
}

void MemcheckTest::interactive_data()
{
    e2e::addColumns();
    // A bad line, and a time-out that closes and reopens the port.
    addRow("lines over a pty", "-i 3000",
           {"!fault ignore-every 2", "<1401\n1\t2\n1402\n1403\n",
            "=V640-SIM01\n00:00:5E:00:53:01\n", "$"},
           {"1401", "1402", "1403"}, 4);
}

QTEST_GUILESS_MAIN(MemcheckTest)
#include "tst_memcheck.moc"

#include "e2e.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using e2e::addRow;
using e2e::frame;

// The production line: read-back after a write, waiting for a tag, retries after failed
// attempts, whole-tag images and the node scan.
class ProductionTest : public QObject
{
    Q_OBJECT
    QTemporaryDir directory;
    QString path(const char *name) const { return directory.filePath(QLatin1String(name)); }
    QString device = QStringLiteral("/dev/null");

private slots:
    void runs_data();
    void runs() { e2e::runRow(60); }
    void images_data();
    void images();
    void serialRuns_data();
    void serialRuns() { e2e::runRow(e2e::onPty); }
};

namespace {

const QByteArray ok = "=OK: \n";
const QByteArray data = "0011223344556677";
const QByteArray readPage1 = "010000000004";
const QByteArray zeros = "0000000000000000";

QByteArray pageLines(const QByteArray &first, const QByteArray &last)
{
    QByteArray lines = first + '\n';
    for (int page = 2; page <= 16; ++page) {
        lines += zeros + '\n';
    }
    return lines + last + '\n';
}

} // namespace

void ProductionTest::runs_data()
{
    e2e::addColumns();
    // Read back: the pages a byte write touched; a write the unit acknowledged but lost.
    addRow("verify a byte write over two pages", "--verify -b 7 0102", {ok},
           {"0400070102", "01000000000C"});
    addRow("verify: a write that was not stored", "--verify -s 1,2 " + data,
           {"!fault lost-write on", ok,
            "?vorsel: verify mismatch: page 1, byte 0x01: expected 11, read 00\n"},
           {"03000000000C" + data, "01000000000C"}, 5);
    addRow("verify: no answer to the read-back", "-i 1000 --verify -w 1 " + data,
           {"!fault ignore-every 2", ok}, {"020000000004" + data, readPage1}, 4);
    // An error end is an answer: neither read back nor sent again, and a verified write failed.
    addRow("error end: no read-back, no retry", "--retries 2 --verify -w 1 " + data,
           {"!fault no-tag on", "=NG: 72\n"}, {"020000000004" + data}, 2);

    // The tag is there at the third try; or the time is over before the first answer.
    addRow("wait until the tag arrives", "--wait 5000 -r 1",
           {"!fault no-tag 2", "!arrive 2 0 0123456789ABCDEF", "= 1: 01 23 45 67 89 AB CD EF\n"},
           {readPage1, readPage1, readPage1});
    addRow("wait over: the last answer", "-a -i 5000 --wait 1000 -r 1",
           {"!fault no-tag on", "!fault delay 1500", "=NG: 72\n"}, {readPage1}, 2);
    addRow("Ctrl-C while waiting", "-o json -i 60000 --wait 60000 -r 1",
           {"!fault no-tag on", "!fault ignore-every 2", "#26", "*",
            R"({"v":1,"outcome":"interrupted","command":"010000000004","attempts":2,)"
            R"x("reason":"interrupted by SIGINT (Ctrl-C)"})x"},
           {readPage1, readPage1}, 130);

    // Retries: the read-back's answer is dropped once; every answer dropped; a closed link.
    addRow("retry after a dropped answer",
           "-o json --trace - -i 1000 --retries 1 --verify -w 1 " + data,
           {"!fault ignore-every 2",
            R"({"v":1,"outcome":"ok","code":0,"command":"0200000000040011223344556677",)"
            R"("response":"00","attempts":1})",
            R"({"v":1,"outcome":"ok","code":0,"command":"010000000004",)"
            R"("response":"000011223344556677","value":{"1":"0011223344556677"},"attempts":2})",
            "?> 127.0.0.60:7090 010000000004\\r (attempt 2)"},
           {"020000000004" + data, readPage1, readPage1});
    // The first attempt's piece of an answer is no part of the next one's.
    addRow("retry after half an answer", "-i 1000 --retries 1 --get-model-number",
           {"!respond 30305A", "=V640-SIM01\n"}, {"1401", "1401"});
    addRow("retries exhausted", "-i 1000 --retries 2 --get-model-number", {"!fault ignore-every 1"},
           {"1401", "1401", "1401"}, 4);
    addRow("retry over a new connection", "-i 60000 --retries 1 --get-model-number",
           {"!fault close on"}, {"1401", "1401"}, 4);
    // Without the retry the session would end with 4.
    addRow("interactive retry", "-i 1000 --retries 1",
           {"!fault ignore-every 2", "<1401\n1402\n", "=V640-SIM01\n1.05\n", "$"},
           {"1401", "1402", "1402"});
    // The first attempt is answered after its time-out: the retry goes once that answer is in,
    // and no later frame takes it, or the retry's answer, for its own.
    addRow("late answer, then a retry, interactive", "-i 1000 --retries 1",
           {"!fault delay 600", "!fault delay-next 1 1500", "!page 1 FEDCBA9876543210",
            "<" + readPage1 + "\n010000000008\n",
            "= 1: 00 00 00 00 00 00 00 00\n 2: FE DC BA 98 76 54 32 10\n", "$"},
           {readPage1, readPage1, "010000000008"});
}

void ProductionTest::images()
{
    // The time in an image's first line is checked for its form only.
    e2e::runRow(61, {"bash", "-c",
                     "set -o pipefail; \"$0\" \"$@\" | sed -E "
                     "'1s/^# [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$/# TIME/'"});
    // What was refused is as it was; a file replaced keeps its owner and permissions.
    QVERIFY(!QFileInfo(path("fifo")).isFile() && !QFileInfo(device).isFile() &&
            QFileInfo(path("victim")).size() == 7);
    struct stat kept = {};
    QVERIFY(stat(qPrintable(path("kept")), &kept) == 0 && (kept.st_mode & 07777) == 0640);
    QCOMPARE(kept.st_uid, geteuid() == 0 ? 4321 : geteuid());
}

void ProductionTest::images_data()
{
    e2e::addColumns();
    const QByteArray first = "0123456789ABCDEF";
    const QByteArray last = "00112233AABBCCDD";
    const QByteArrayList pages = {"!page 0 " + first, "!page 16 " + last};
    const QByteArray readAll[] = {"01000003FFFC", "010000040000"};
    // Comments, empty lines, spaces and lower case do not count.
    const QByteArray image = "# master\n\n" + pageLines(first.toLower() + "  ", last);
    QByteArray raw;
    for (int byte = 0; byte < 136; ++byte) {
        raw += char(byte * 7);
    }

    addRow("dump", "--dump -", pages + QByteArrayList{"=# TIME\n" + pageLines(first, last)},
           {readAll[0], readAll[1]});
    addRow("dump: an error end writes no image", "--dump -", {"!fault no-tag on", "=NG: 72\n"},
           {readAll[0]}, 1);
    addRow("restore and verify a raw image", "--verify --restore -", {"<" + raw, ok},
           {"02000003FFFC" + raw.left(128).toHex().toUpper(),
            "020000040000" + raw.mid(128).toHex().toUpper(), readAll[0], readAll[1]},
           0, e2e::File);
    addRow("restore after a late answer and a retry", "-a -i 1000 --retries 1 --verify --restore -",
           {"!fault delay 600", "!fault delay-next 1 1500", "<" + raw, ok},
           {"02000003FFFC" + raw.left(128).toHex().toUpper(),
            "02000003FFFC" + raw.left(128).toHex().toUpper(),
            "020000040000" + raw.mid(128).toHex().toUpper(), readAll[0], readAll[1]},
           0, e2e::File);
    addRow("restore: an error end stops it", "-a --restore -",
           {"!fault no-tag on", "<" + image, "=NG: 72\n"},
           {"02000003FFFC" + pageLines(first, last).replace("\n", "").left(256)}, 2, e2e::File);
    addRow("compare: the same", "--compare -", pages + QByteArrayList{"<" + image},
           {readAll[0], readAll[1]}, 0, e2e::File);
    addRow("compare: a difference", "--compare -",
           {pages.first(), "!page 16 00112233AABBCCDE", "<" + image,
            "?vorsel: compare mismatch: page 17, byte 0x87: expected DD, read DE\n"},
           {readAll[0], readAll[1]}, 5, e2e::File);

    // Nothing is sent for anything but an image.
    const QList<QPair<const char *, QByteArray>> malformed = {
        {"18 pages", image + zeros + "\n"},
        {"15 digits", QByteArray(image).replace("0123", "012")},
        {"not hexadecimal", QByteArray(image).replace("ab", "ag")},
        {"135 bytes", raw.left(135)},
        {"8 pages in 136 bytes", pageLines(first, last).left(136)}};
    for (const auto &content : malformed) {
        addRow(content.first, "--restore -", {"<" + content.second}, {}, 3, e2e::File);
    }
    addRow("no file", "--compare /nonexistent/image", {}, {}, 3);

    // Never followed nor replaced, and refused before anything is sent: a link planted to
    // another's file, a FIFO, a device (of the test's own where it may make one).
    QFile victim(path("victim"));
    QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write("secret\n") == 7 && victim.flush() &&
            victim.copy(path("kept")) && chmod(qPrintable(path("kept")), 0640) == 0);
    QVERIFY(QFile::link(path("victim"), path("link")) &&
            mkfifo(qPrintable(path("fifo")), 0600) == 0);
    // As root, a dump replaces a file of another user's.
    QVERIFY(geteuid() != 0 || chown(qPrintable(path("kept")), 4321, 4321) == 0);
    device =
        mknod(qPrintable(path("null")), S_IFCHR | 0666, makedev(1, 3)) == 0 ? path("null") : device;
    for (const QString &file : {path("link"), path("fifo"), device}) {
        for (const QString &option : {"--dump " + file, "--trace " + file + " --reset"}) {
            addRow(qPrintable(option.section(" ", 0, 0) + " to " + QFileInfo(file).fileName()),
                   "--verbose " + option, {"?, not a regular file\n"}, {}, 3);
        }
    }
    addRow("dump over another's file", "--dump " + path("kept"), {}, {readAll[0], readAll[1]});
    addRow(
        "no image on standard output beside JSON", "-o json --dump -",
        {R"({"v":1,"outcome":"not-sent","reason":"--dump: standard output carries the JSON lines"})"},
        {}, 3);
}

void ProductionTest::serialRuns_data()
{
    e2e::addColumns();
    QByteArrayList everyNode;
    for (int node = 1; node <= 17; ++node) {
        everyNode << frame(node, "1401");
    }
    QByteArray spoilt = frame(1, "00V640-SIM01");
    spoilt[spoilt.size() - 2] = '0';

    // Node 1 answers; each other node gets the whole time-out.
    addRow("scan", "-i 1000 --scan", {"= 1: V640-SIM01\n"}, everyNode);
    addRow("retry after a spoilt answer", "--retries 1 --get-model-number",
           {"!respond " + spoilt.toHex(), "=V640-SIM01\n"}, {"1401", "1401"});
}

QTEST_GUILESS_MAIN(ProductionTest)
#include "tst_production.moc"

// Runs the examples of README.md and the man pages against vorsel-sim and compares what they
// print, so that the documentation shows what the programs do.
//
// How an example is marked:
// - Markdown: the line right before the opening ``` of a code block is "<!-- example -->".
// - Man page: the line right before ".EX" is '.\" example'.
// - After "example" may come ": " and directives separated by "; ": "alone" runs the block
//   without a simulator of the check's own; any other directive is a control command that the
//   block's simulator gets before the first command ("fault no-tag on").
// Inside a block, a line that starts with "$ " is a command (one line of bash); the lines up to
// the next command are its output, standard output and standard error together, compared
// exactly. A command must end with status 0 unless the next command is "echo $?", which shows
// its status. What differs from run to run, the times in JSON output ("elapsed_ms") and in a
// trace, is compared by its form only. Each block runs in one bash, against a simulator started for
// it with the default state and no faults. The README's blocks also run in order against one
// simulator, as a reader of its tour runs them, with "fault clear" after each. Addresses: 127.0.0.2
// is the simulator's TCP address, 127.0.0.3 an address where nothing listens, /tmp/v640 a symbolic
// link to the simulator's pty; the check replaces them with its own. Every vorsel command names one
// of them with --target (or -t), except --help and --version; vorsel-sim listens on 127.0.0.2
// only. A command that is only shown may name a
// device under /dev/ or a placeholder in capitals (UNIT-ADDRESS) instead.
// A block that is not marked may show commands, but no output.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "simulatorprocess.h"

#include <algorithm>

namespace {

const QStringList documentNames = {QStringLiteral("README.md"), QStringLiteral("docs/man/vorsel.1"),
                                   QStringLiteral("docs/man/vorsel-sim.1")};

struct Block
{
    QString where; // "README.md:120"
    bool marked = false;
    QStringList directives;
    QStringList lines;

    QStringList commands() const
    {
        static const QRegularExpression prompt(QStringLiteral("^\\$ "));
        return QStringList(lines.filter(prompt)).replaceInStrings(prompt, QString());
    }
};

// The text of a line of man page source, for the escapes that examples use.
QString roffText(QString text)
{
    return text.replace("\\(aq", "'")
        .replace("\\(dq", "\"")
        .replace("\\-", "-")
        .replace("\\&", "")
        .replace("\\e", "\\");
}

QList<Block> loadBlocks(const QString &name, QStringList *errors)
{
    const bool manPage = name.endsWith(QLatin1String(".1"));
    const QRegularExpression marker(manPage ? QStringLiteral(R"(^\.\\" example(?:: (.+))?$)")
                                            : QStringLiteral("^<!-- example(?:: (.+))? -->$"));
    const QString comment = manPage ? QStringLiteral(".\\\"") : QStringLiteral("<!--");
    const QString open = manPage ? QStringLiteral(".EX") : QStringLiteral("```");
    const QString close = manPage ? QStringLiteral(".EE") : QStringLiteral("```");
    QFile file(QStringLiteral(SOURCE_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QList<Block> blocks;
    for (int i = 0; i < lines.size(); ++i) {
        const QString where = QStringLiteral("%1:%2").arg(name).arg(i + 1);
        // A typo in a marker would drop an example from the check unnoticed.
        if (lines.at(i).startsWith(comment) && lines.at(i).contains(QLatin1String("example")) &&
            (!marker.match(lines.at(i)).hasMatch() || !lines.value(i + 1).startsWith(open))) {
            errors->append(where + QStringLiteral(": a malformed marker, or one without a block"));
        }
        if (!lines.at(i).startsWith(open)) {
            continue;
        }
        const QRegularExpressionMatch marking = marker.match(lines.value(i - 1));
        Block block{where,
                    marking.hasMatch(),
                    marking.captured(1).split(QStringLiteral("; "), Qt::SkipEmptyParts),
                    {}};
        while (++i < lines.size() && !lines.at(i).startsWith(close)) {
            block.lines.append(manPage ? roffText(lines.at(i)) : lines.at(i));
        }
        blocks.append(block);
    }
    return blocks;
}

// Why a command may not be run (or, if shown only, shown); empty if it may.
QString unsafeCommand(const QString &command, bool run)
{
    static const QRegularExpression program(QStringLiteral(R"((^|[^\w-])vorsel(?![\w-]))"));
    static const QRegularExpression linkless(QStringLiteral(R"(\s(-h|--help|-v|--version)(\s|$))"));
    static const QRegularExpression target(QStringLiteral(R"((--target[= ]|-t )(\S*))"));
    static const QRegularExpression shownOnlyTarget(
        QStringLiteral(R"(^(/dev/\S+|[A-Z][A-Z_-]*)$)"));
    static const QRegularExpression elsewhere(QStringLiteral(
        R"(--listen[= ](?!127\.0\.0\.2(\s|$))|--serial[= ](?!/dev/)|/dev/(tcp|udp)/)"));
    int targets = 0;
    for (QRegularExpressionMatchIterator it = target.globalMatch(command); it.hasNext();
         ++targets) {
        const QString value = it.next().captured(2);
        if (!QStringList{"127.0.0.2", "127.0.0.3", "/tmp/v640"}.contains(value) &&
            (run || !shownOnlyTarget.match(value).hasMatch())) {
            return QStringLiteral("a target that is no stand-in: ") + command;
        }
    }
    if (targets < command.count(program) && !command.contains(linkless)) {
        return QStringLiteral("vorsel without --target: ") + command;
    }
    if (command.contains(elsewhere) || (run && command.contains(QLatin1String("--serial")))) {
        return QStringLiteral("an address or device of its own: ") + command;
    }
    return {};
}

// The text with its times replaced by place-holders of their form.
QString withoutTimes(QString text)
{
    static const QRegularExpression elapsed(
        QStringLiteral(R"(("elapsed_ms":)\d+|(\()\d+(?= ms\)))"));
    static const QRegularExpression stamp(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d) )"),
        QRegularExpression::MultilineOption);
    return text.replace(elapsed, QStringLiteral("\\1\\2#")).replace(stamp, QStringLiteral("TIME "));
}

QString substituteAddresses(QString text, const QString &ptyLink)
{
    text.replace(QRegularExpression(QStringLiteral(R"(\b127\.0\.0\.2(?![0-9]))")),
                 ownLoopbackAddress(2));
    text.replace(QRegularExpression(QStringLiteral(R"(\b127\.0\.0\.3(?![0-9]))")),
                 ownLoopbackAddress(3));
    return text.replace(QRegularExpression(QStringLiteral(R"(/tmp/v640(?![\w/.-]))")), ptyLink);
}

// Control commands for vorsel-sim, each answered "ok".
bool steer(SimulatorProcess &simulator, const QStringList &commands)
{
    return std::all_of(commands.begin(), commands.end(), [&simulator](const QString &command) {
        return simulator.control(command.toUtf8()).startsWith("ok");
    });
}

} // namespace

class ExampleTest : public QObject
{
    Q_OBJECT

private slots:
    void documents_data();
    void documents();
    void examples_data();
    void examples();
    void readmeInOrder();

private:
    QString ptyLink() const { return scratch.filePath(QStringLiteral("v640")); }
    // vorsel-sim as a block or a reader of the tour has it: TCP on 127.0.0.2, a pty at /tmp/v640.
    bool start(SimulatorProcess &simulator) const
    {
        return simulator.start({"--listen", ownLoopbackAddress(2), "--pty", "--link", ptyLink()});
    }
    QString runBlock(const Block &block) const;

    QTemporaryDir scratch;
};

// Runs a block's commands in one bash and returns how the output differs from the block's, or an
// empty string. What ran is written down the way the block shows it: each command after "$ ",
// its output, and a note of its status where the next command does not show it.
QString ExampleTest::runBlock(const Block &block) const
{
    const QStringList commands = block.commands();
    QString script = QStringLiteral("exec 2>&1\n");
    for (const QString &command : commands) {
        if (!unsafeCommand(command, true).isEmpty()) {
            return block.where + QStringLiteral(": not run: ") + unsafeCommand(command, true);
        }
        script += substituteAddresses(command, ptyLink()) +
                  QStringLiteral("\ns=$?; printf '\\036%d\\n' $s; (exit $s)\n");
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(VORSEL_PROGRAM).absolutePath() + ':' +
                                   QFileInfo(SIMULATOR_PROGRAM).absolutePath() + ':' +
                                   environment.value("PATH"));
    QProcess bash;
    bash.setProcessEnvironment(environment);
    bash.setWorkingDirectory(scratch.path());
    bash.setStandardInputFile(QProcess::nullDevice());
    bash.start(QStringLiteral("bash"), {"--noprofile", "--norc", "-c", script});
    if (!bash.waitForFinished(180000)) {
        bash.kill();
        bash.waitForFinished(10000);
        return block.where + QStringLiteral(": did not end within 180 s");
    }
    // Piece i > 0 starts with the status of command i - 1 on a line of its own.
    const QStringList pieces = QString::fromUtf8(bash.readAllStandardOutput()).split('\x1e');
    QString actual;
    for (int i = 0; i < pieces.size(); ++i) {
        const int status = pieces.at(i).section('\n', 0, 0).toInt();
        if (i > 0 && status != 0 && commands.value(i) != QLatin1String("echo $?")) {
            actual += QStringLiteral("[status %1, not shown]\n").arg(status);
        }
        if (i < commands.size()) {
            actual += QStringLiteral("$ ") + commands.at(i) + '\n';
        }
        actual += i == 0 ? pieces.at(i) : pieces.at(i).section('\n', 1);
    }
    const QString expected = block.lines.join('\n') + '\n';
    if (withoutTimes(substituteAddresses(actual, ptyLink())) ==
        withoutTimes(substituteAddresses(expected, ptyLink()))) {
        return {};
    }
    return QStringLiteral("%1 ran as:\n%2\ninstead of:\n%3").arg(block.where, actual, expected);
}

void ExampleTest::documents_data()
{
    QTest::addColumn<QString>("document");
    for (const QString &document : documentNames) {
        QTest::newRow(qPrintable(document)) << document;
    }
}

// Each document holds run examples, every command in it is safe, and no output goes unchecked.
void ExampleTest::documents()
{
    QFETCH(QString, document);
    QStringList errors;
    const QList<Block> blocks = loadBlocks(document, &errors);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QVERIFY(std::any_of(blocks.begin(), blocks.end(), [](const Block &b) { return b.marked; }));
    for (const Block &block : blocks) {
        for (const QString &command : block.commands()) {
            const QString reason = unsafeCommand(command, block.marked);
            QVERIFY2(reason.isEmpty(), qPrintable(block.where + ": " + reason));
        }
        const QStringList output = block.lines.filter(QRegularExpression("^(?!\\$ ).+"));
        QVERIFY2(block.marked || block.commands().isEmpty() || output.isEmpty(),
                 qPrintable(block.where + ": output that is not run: " + output.join(" | ")));
    }
}

void ExampleTest::examples_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("index");
    for (const QString &document : documentNames) {
        QStringList errors;
        const QList<Block> blocks = loadBlocks(document, &errors);
        for (int i = 0; i < blocks.size(); ++i) {
            if (blocks.at(i).marked) {
                QTest::newRow(qPrintable(blocks.at(i).where)) << document << i;
            }
        }
    }
}

void ExampleTest::examples()
{
    QFETCH(QString, document);
    QFETCH(int, index);
    QStringList errors;
    const Block block = loadBlocks(document, &errors).at(index);
    SimulatorProcess simulator;
    if (!block.directives.contains(QStringLiteral("alone"))) {
        QVERIFY2(start(simulator), "vorsel-sim did not get ready");
        QVERIFY2(steer(simulator, block.directives), qPrintable(block.directives.join("; ")));
    }
    const QString difference = runBlock(block);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QVERIFY2(simulator.quit(), "vorsel-sim did not end cleanly");
}

// A reader of the tour keeps one simulator running, types each block's control commands into it
// and "fault clear" after the block: the outputs must hold for that too.
void ExampleTest::readmeInOrder()
{
    SimulatorProcess simulator;
    QVERIFY2(start(simulator), "vorsel-sim did not get ready");
    QStringList errors;
    for (const Block &block : loadBlocks(QStringLiteral("README.md"), &errors)) {
        if (!block.marked || block.directives.contains(QStringLiteral("alone"))) {
            continue;
        }
        QVERIFY2(steer(simulator, block.directives), qPrintable(block.directives.join("; ")));
        const QString difference = runBlock(block);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QVERIFY(steer(simulator, {QStringLiteral("fault clear")}));
    }
    QVERIFY2(simulator.quit(), "vorsel-sim did not end cleanly");
}

QTEST_GUILESS_MAIN(ExampleTest)
#include "tst_examples.moc"

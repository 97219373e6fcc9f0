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
// its status. Each block runs in one bash, against a simulator started for it with the default
// state and no faults. The README's blocks also run in order against one simulator, as a reader
// of its tour runs them, with "fault clear" after each.
// Addresses: 127.0.0.2 is the simulator's TCP address, 127.0.0.3 an address where nothing
// listens, /tmp/v640 a symbolic link to the simulator's pty; the check replaces them with its
// own. Every vorsel command names one of them with --target (or -t), except --help and
// --version; vorsel-sim listens on 127.0.0.2 only.
// A block that is not marked may show commands, but no output.

#include "docsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The check's own addresses; a sanitizer build may run at the same time as a plain one.
#if SANITIZED_BUILD
const QString simulatorAddress = QStringLiteral("127.0.0.230");
const QString silentAddress = QStringLiteral("127.0.0.231");
#else
const QString simulatorAddress = QStringLiteral("127.0.0.220");
const QString silentAddress = QStringLiteral("127.0.0.221");
#endif

const QString documentedSimulator = QStringLiteral("127.0.0.2");
const QString documentedSilent = QStringLiteral("127.0.0.3");
const QString documentedPty = QStringLiteral("/tmp/v640");

const char commandMark = '\x1e';

struct ExampleCommand
{
    QString line;
    QStringList output;
};

struct ExampleBlock
{
    QString where; // "README.md:120"
    bool marked = false;
    bool alone = false;
    QStringList controlCommands;
    QList<ExampleCommand> commands;
    QStringList outputBeforeFirstCommand;
};

struct Document
{
    QList<ExampleBlock> blocks;
    QStringList errors;
};

const QStringList documents = {QStringLiteral("README.md"), QStringLiteral("docs/man/vorsel.1"),
                               QStringLiteral("docs/man/vorsel-sim.1")};

ExampleBlock blockFromLines(const QString &where, const QString &marker, const QStringList &lines)
{
    ExampleBlock block;
    block.where = where;
    block.marked = !marker.isNull();
    const QString directives = marker.section(QStringLiteral(": "), 1);
    for (const QString &directive : directives.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        if (directive == QLatin1String("alone")) {
            block.alone = true;
        } else {
            block.controlCommands.append(directive);
        }
    }
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("$ "))) {
            block.commands.append({line.mid(2), {}});
        } else if (block.commands.isEmpty()) {
            block.outputBeforeFirstCommand.append(line);
        } else {
            block.commands.last().output.append(line);
        }
    }
    return block;
}

// Markers: "<!-- example -->" or "<!-- example: DIRECTIVES -->".
Document markdownDocument(const QString &name)
{
    static const QRegularExpression marker(QStringLiteral(R"(^<!-- (example(?:: .+)?) -->$)"));
    Document document;
    const QStringList lines = docs::readLines(docs::sourcePath(name));
    if (lines.isEmpty()) {
        document.errors.append(name + QStringLiteral(": cannot be read"));
    }
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = marker.match(lines.at(i));
        QString markerText;
        if (match.hasMatch()) {
            if (i + 1 >= lines.size() || !lines.at(i + 1).startsWith(QLatin1String("```"))) {
                document.errors.append(
                    QStringLiteral("%1:%2: a marker without a code block").arg(name).arg(i + 1));
                continue;
            }
            markerText = match.captured(1);
            ++i;
        } else if (lines.at(i).trimmed().startsWith(QLatin1String("<!-- example"))) {
            document.errors.append(QStringLiteral("%1:%2: malformed marker").arg(name).arg(i + 1));
            continue;
        } else if (!lines.at(i).startsWith(QLatin1String("```"))) {
            continue;
        }
        const int start = i;
        QStringList blockLines;
        while (++i < lines.size() && !lines.at(i).startsWith(QLatin1String("```"))) {
            blockLines.append(lines.at(i));
        }
        if (i >= lines.size()) {
            document.errors.append(
                QStringLiteral("%1:%2: code block not closed").arg(name).arg(start + 1));
        }
        document.blocks.append(blockFromLines(QStringLiteral("%1:%2").arg(name).arg(start + 1),
                                              markerText, blockLines));
    }
    return document;
}

// Markers: '.\" example' or '.\" example: DIRECTIVES', right before ".EX".
Document manPageDocument(const QString &name)
{
    static const QRegularExpression marker(QStringLiteral(R"(^\.\\" (example(?:: .+)?)$)"));
    Document document;
    const QStringList lines = docs::readLines(docs::sourcePath(name));
    if (lines.isEmpty()) {
        document.errors.append(name + QStringLiteral(": cannot be read"));
    }
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = marker.match(lines.at(i));
        QString markerText;
        if (match.hasMatch()) {
            if (i + 1 >= lines.size() || lines.at(i + 1) != QLatin1String(".EX")) {
                document.errors.append(
                    QStringLiteral("%1:%2: a marker without .EX").arg(name).arg(i + 1));
                continue;
            }
            markerText = match.captured(1);
            ++i;
        } else if (lines.at(i).startsWith(QLatin1String(".\\\" example"))) {
            document.errors.append(QStringLiteral("%1:%2: malformed marker").arg(name).arg(i + 1));
            continue;
        } else if (lines.at(i) != QLatin1String(".EX")) {
            continue;
        }
        const int start = i;
        QStringList blockLines;
        while (++i < lines.size() && lines.at(i) != QLatin1String(".EE")) {
            QString error;
            if (lines.at(i).startsWith(QLatin1Char('.')) ||
                lines.at(i).startsWith(QLatin1Char('\''))) {
                error = QStringLiteral("a request inside an example: ") + lines.at(i);
            }
            const QString text = docs::roffText(lines.at(i), &error);
            if (!error.isEmpty()) {
                document.errors.append(QStringLiteral("%1:%2: %3").arg(name).arg(i + 1).arg(error));
            }
            blockLines.append(text);
        }
        if (i >= lines.size()) {
            document.errors.append(
                QStringLiteral("%1:%2: .EX without .EE").arg(name).arg(start + 1));
        }
        document.blocks.append(blockFromLines(QStringLiteral("%1:%2").arg(name).arg(start + 1),
                                              markerText, blockLines));
    }
    return document;
}

Document loadDocument(const QString &name)
{
    return name.endsWith(QLatin1String(".md")) ? markdownDocument(name) : manPageDocument(name);
}

// The words of one command line, cut into simple commands at unquoted | ; & characters.
QList<QStringList> simpleCommands(const QString &line)
{
    QList<QStringList> commands{{}};
    QString word;
    bool inWord = false;
    QChar quote;
    auto endWord = [&]() {
        if (inWord) {
            commands.last().append(word);
        }
        word.clear();
        inWord = false;
    };
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (!quote.isNull()) {
            if (c == quote) {
                quote = QChar();
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c == QLatin1Char('#') && !inWord) {
            break;
        } else if (c.isSpace()) {
            endWord();
        } else if (c == QLatin1Char('|') || c == QLatin1Char(';') || c == QLatin1Char('&')) {
            endWord();
            if (!commands.last().isEmpty()) {
                commands.append(QStringList());
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    if (commands.last().isEmpty()) {
        commands.removeLast();
    }
    return commands;
}

// The value of an option given as "--long VALUE", "--long=VALUE" or "-s VALUE"; null if absent.
QString optionValue(const QStringList &words, const QString &longName, const QString &shortName)
{
    for (int i = 1; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if ((word == QLatin1String("--") + longName ||
             (!shortName.isEmpty() && word == QLatin1Char('-') + shortName)) &&
            i + 1 < words.size()) {
            return words.at(i + 1);
        }
        if (word.startsWith(QLatin1String("--") + longName + QLatin1Char('='))) {
            return word.section(QLatin1Char('='), 1);
        }
    }
    return {};
}

// Why a command may not be shown or run, or an empty string. Run examples may use only the
// documented stand-in addresses; shown-only ones may also name serial devices and placeholders.
QString unsafeCommand(const QString &line, bool run)
{
    static const QRegularExpression placeholder(QStringLiteral("^[A-Z][A-Z_-]*$"));
    const QStringList runnableTargets = {documentedSimulator, documentedSilent, documentedPty};
    auto allowed = [&](const QString &value) {
        return runnableTargets.contains(value) ||
               (!run &&
                (value.startsWith(QLatin1String("/dev/")) || placeholder.match(value).hasMatch()));
    };
    for (QStringList words : simpleCommands(line)) {
        // The program may follow a shell word such as "if", "time" or "xargs".
        while (words.size() > 1 && QFileInfo(words.first()).fileName() != QLatin1String("vorsel") &&
               QFileInfo(words.first()).fileName() != QLatin1String("vorsel-sim")) {
            words.removeFirst();
        }
        const QString program = QFileInfo(words.first()).fileName();
        if (program == QLatin1String("vorsel")) {
            const QString target =
                optionValue(words, QStringLiteral("target"), QStringLiteral("t"));
            const bool noLink = words.contains(QStringLiteral("--help")) ||
                                words.contains(QStringLiteral("--version")) ||
                                words.contains(QStringLiteral("--help-all")) ||
                                words.contains(QStringLiteral("-h")) ||
                                words.contains(QStringLiteral("-v"));
            if (target.isNull() ? !noLink : !allowed(target)) {
                return QStringLiteral("vorsel without a stand-in --target: ") + line;
            }
        } else if (program == QLatin1String("vorsel-sim")) {
            const QString listen = optionValue(words, QStringLiteral("listen"), {});
            const QString serial = optionValue(words, QStringLiteral("serial"), {});
            if ((!listen.isNull() && listen != documentedSimulator) ||
                (!serial.isNull() && (run || !serial.startsWith(QLatin1String("/dev/"))))) {
                return QStringLiteral("vorsel-sim on an address or device of its own: ") + line;
            }
        } else if (line.contains(QLatin1String("/dev/tcp/")) ||
                   line.contains(QLatin1String("/dev/udp/"))) {
            return QStringLiteral("a connection outside vorsel: ") + line;
        }
    }
    return {};
}

QString substituteAddresses(QString text, const QString &ptyLink)
{
    text.replace(QRegularExpression(QStringLiteral(R"(\b127\.0\.0\.2(?![0-9]))")),
                 simulatorAddress);
    text.replace(QRegularExpression(QStringLiteral(R"(\b127\.0\.0\.3(?![0-9]))")), silentAddress);
    text.replace(QRegularExpression(QStringLiteral(R"(/tmp/v640(?![\w/.-]))")), ptyLink);
    return text;
}

// One bash script for a block: each command is followed by a mark line with its status, and the
// status is restored before the next command so that "echo $?" shows it.
QByteArray blockScript(const ExampleBlock &block, const QString &ptyLink)
{
    QByteArray script = "exec 2>&1\n";
    for (const ExampleCommand &command : block.commands) {
        script += substituteAddresses(command.line, ptyLink).toUtf8() + '\n';
        script += "vorsel_example_status=$?; printf '\\036%d\\n' \"$vorsel_example_status\"; "
                  "(exit \"$vorsel_example_status\")\n";
    }
    return script;
}

class Simulator
{
public:
    ~Simulator() { stop(); }

    // Starts a simulator on the check's address and its pty link; a few tries, since the port of
    // the previous block's simulator may still be held for a moment.
    bool start(const QString &ptyLink, QString *failure)
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            process.setProgram(docs::simulatorProgram());
            process.setArguments({QStringLiteral("--listen"), simulatorAddress,
                                  QStringLiteral("--pty"), QStringLiteral("--link"), ptyLink});
            process.start();
            if (!process.waitForStarted(10000)) {
                *failure = QStringLiteral("vorsel-sim did not start");
                return false;
            }
            QByteArray readiness;
            while (!readiness.contains("ready\n") && process.state() == QProcess::Running &&
                   process.waitForReadyRead(10000)) {
                readiness += process.readAllStandardOutput();
            }
            if (readiness.contains("ready\n")) {
                return true;
            }
            process.waitForFinished(10000);
            *failure = QStringLiteral("vorsel-sim did not get ready: ") +
                       QString::fromUtf8(process.readAllStandardError());
            QTest::qWait(250);
        }
        return false;
    }

    bool control(const QString &command, QString *failure)
    {
        process.write(command.toUtf8() + '\n');
        QByteArray reply;
        while (!reply.contains('\n') && process.waitForReadyRead(10000)) {
            reply += process.readAllStandardOutput();
        }
        if (!reply.startsWith("ok")) {
            *failure = QStringLiteral("control command \"%1\" got \"%2\"")
                           .arg(command, QString::fromUtf8(reply.trimmed()));
            return false;
        }
        return true;
    }

    // Ends the simulator through its control channel; true when it ended cleanly and quietly.
    bool stop(QString *failure = nullptr)
    {
        if (process.state() == QProcess::NotRunning) {
            return true;
        }
        process.write("quit\n");
        process.closeWriteChannel();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
        const QByteArray errors = process.readAllStandardError();
        const bool clean = process.exitStatus() == QProcess::NormalExit &&
                           process.exitCode() == 0 && errors.isEmpty();
        if (!clean && failure != nullptr) {
            *failure = QStringLiteral("vorsel-sim ended with status %1: %2")
                           .arg(process.exitCode())
                           .arg(QString::fromUtf8(errors));
        }
        return clean;
    }

private:
    QProcess process;
};

// A scratch folder with vorsel and vorsel-sim on a path of their own, and the place of the pty
// link.
class Workspace
{
public:
    Workspace()
    {
        valid =
            scratch.isValid() && QDir(scratch.path()).mkdir(QStringLiteral("bin")) &&
            QFile::link(docs::vorselProgram(), scratch.filePath(QStringLiteral("bin/vorsel"))) &&
            QFile::link(docs::simulatorProgram(),
                        scratch.filePath(QStringLiteral("bin/vorsel-sim")));
    }

    bool isValid() const { return valid; }
    QString path() const { return scratch.path(); }
    QString ptyLink() const { return scratch.filePath(QStringLiteral("v640")); }
    QString binPath() const { return scratch.filePath(QStringLiteral("bin")); }

private:
    QTemporaryDir scratch;
    bool valid = false;
};

// Runs a block's commands in one bash and compares each one's output and status; returns what
// differs, or an empty string.
QString runBlock(const ExampleBlock &block, const Workspace &workspace)
{
    for (const ExampleCommand &command : block.commands) {
        const QString reason = unsafeCommand(command.line, true);
        if (!reason.isEmpty()) {
            return reason;
        }
    }
    QFile scriptFile(QDir(workspace.path()).filePath(QStringLiteral("example.sh")));
    if (!scriptFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return QStringLiteral("cannot write the script");
    }
    scriptFile.write(blockScript(block, workspace.ptyLink()));
    scriptFile.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), workspace.binPath() + QLatin1Char(':') +
                                                   environment.value(QStringLiteral("PATH")));
    QProcess bash;
    bash.setProcessEnvironment(environment);
    bash.setWorkingDirectory(workspace.path());
    bash.setStandardInputFile(QProcess::nullDevice());
    bash.start(QStringLiteral("bash"),
               {QStringLiteral("--noprofile"), QStringLiteral("--norc"), scriptFile.fileName()});
    if (!bash.waitForStarted(10000)) {
        return QStringLiteral("bash did not start");
    }
    if (!bash.waitForFinished(180000)) {
        bash.kill();
        bash.waitForFinished(10000);
        return block.where + QStringLiteral(": did not end within 180 s");
    }
    const QString output = QString::fromUtf8(bash.readAllStandardOutput());

    // Piece 0 is the output of command 0; piece i > 0 starts with the status of command i-1 on
    // the mark line, followed by the output of command i.
    const QStringList pieces = output.split(QLatin1Char(commandMark));
    if (pieces.size() != block.commands.size() + 1) {
        return block.where + QStringLiteral(": the commands did not all run:\n") + output;
    }
    const QString afterLast = pieces.last().section(QLatin1Char('\n'), 1);
    if (!afterLast.isEmpty()) {
        return block.where + QStringLiteral(": output after the last command: ") + afterLast;
    }
    for (int i = 0; i < block.commands.size(); ++i) {
        const ExampleCommand &command = block.commands.at(i);
        QString expected;
        for (const QString &line : command.output) {
            expected += substituteAddresses(line, workspace.ptyLink()) + QLatin1Char('\n');
        }
        const QString actual = i == 0 ? pieces.at(0) : pieces.at(i).section(QLatin1Char('\n'), 1);
        const QString context = QStringLiteral("%1, command \"%2\"").arg(block.where, command.line);
        if (actual != expected) {
            return QStringLiteral("%1 printed:\n%2\ninstead of:\n%3")
                .arg(context, actual, expected);
        }
        const int status = pieces.at(i + 1).section(QLatin1Char('\n'), 0, 0).toInt();
        const bool statusShown = i + 1 < block.commands.size() &&
                                 block.commands.at(i + 1).line == QLatin1String("echo $?");
        if (!statusShown && status != 0) {
            return QStringLiteral("%1 ended with status %2, which the example does not show")
                .arg(context)
                .arg(status);
        }
    }
    return {};
}

} // namespace

class ExampleTest : public QObject
{
    Q_OBJECT

private slots:
    void documentsParse_data();
    void documentsParse();
    void commandsAreSafe();
    void examples_data();
    void examples();
    void readmeInOrder();
};

void ExampleTest::documentsParse_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : documents) {
        QTest::newRow(qPrintable(name)) << name;
    }
}

// Each document holds run examples, and nothing that looks like output outside them: a typo in a
// marker would otherwise drop an example from the check unnoticed.
void ExampleTest::documentsParse()
{
    QFETCH(QString, name);
    const Document document = loadDocument(name);
    QVERIFY2(document.errors.isEmpty(), qPrintable(document.errors.join(QLatin1Char('\n'))));
    int marked = 0;
    for (const ExampleBlock &block : document.blocks) {
        if (block.marked) {
            ++marked;
            QVERIFY2(!block.commands.isEmpty(), qPrintable(block.where + ": no command"));
            QVERIFY2(block.outputBeforeFirstCommand.isEmpty(),
                     qPrintable(block.where + ": output before the first command"));
            continue;
        }
        if (block.commands.isEmpty()) {
            continue; // a listing, not a session
        }
        QStringList output = block.outputBeforeFirstCommand;
        for (const ExampleCommand &command : block.commands) {
            output += command.output;
        }
        output.removeAll(QString());
        QVERIFY2(output.isEmpty(),
                 qPrintable(block.where + ": output in a block that is not run: " +
                            output.join(QStringLiteral(" | "))));
    }
    QVERIFY2(marked > 0, "no example is marked");
}

void ExampleTest::commandsAreSafe()
{
    for (const QString &name : documents) {
        for (const ExampleBlock &block : loadDocument(name).blocks) {
            for (const ExampleCommand &command : block.commands) {
                const QString reason = unsafeCommand(command.line, block.marked);
                QVERIFY2(reason.isEmpty(), qPrintable(block.where + ": " + reason));
            }
        }
    }
}

void ExampleTest::examples_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<int>("index");
    for (const QString &name : documents) {
        const Document document = loadDocument(name);
        for (int i = 0; i < document.blocks.size(); ++i) {
            if (document.blocks.at(i).marked) {
                QTest::newRow(qPrintable(document.blocks.at(i).where)) << name << i;
            }
        }
    }
}

void ExampleTest::examples()
{
    QFETCH(QString, document);
    QFETCH(int, index);
    const ExampleBlock block = loadDocument(document).blocks.at(index);
    Workspace workspace;
    QVERIFY(workspace.isValid());
    Simulator simulator;
    QString failure;
    if (!block.alone) {
        QVERIFY2(simulator.start(workspace.ptyLink(), &failure), qPrintable(failure));
        for (const QString &command : block.controlCommands) {
            QVERIFY2(simulator.control(command, &failure), qPrintable(failure));
        }
    }
    failure = runBlock(block, workspace);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY2(simulator.stop(&failure), qPrintable(failure));
}

// A reader of the tour keeps one simulator running and types each block's control commands into
// it, and "fault clear" after the block: the outputs must hold for that too.
void ExampleTest::readmeInOrder()
{
    Workspace workspace;
    QVERIFY(workspace.isValid());
    Simulator simulator;
    QString failure;
    QVERIFY2(simulator.start(workspace.ptyLink(), &failure), qPrintable(failure));
    int run = 0;
    for (const ExampleBlock &block : loadDocument(QStringLiteral("README.md")).blocks) {
        if (!block.marked || block.alone) {
            continue;
        }
        for (const QString &command : block.controlCommands) {
            QVERIFY2(simulator.control(command, &failure), qPrintable(failure));
        }
        failure = runBlock(block, workspace);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY2(simulator.control(QStringLiteral("fault clear"), &failure), qPrintable(failure));
        ++run;
    }
    QVERIFY(run > 1);
    QVERIFY2(simulator.stop(&failure), qPrintable(failure));
}

QTEST_GUILESS_MAIN(ExampleTest)
#include "tst_examples.moc"

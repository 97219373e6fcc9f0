// The bash completion scripts, run in bash the way bash runs them: every option that --help lists
// is offered, value hints are what the programs accept, and nothing else is offered.

#include "docsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

#if SANITIZED_BUILD
const QString simulatorAddress = QStringLiteral("127.0.0.232");
#else
const QString simulatorAddress = QStringLiteral("127.0.0.222");
#endif

QString scriptFor(const QString &program)
{
    return docs::sourcePath(QStringLiteral("docs/completion/%1.bash").arg(program));
}

// Sources the program's script, finds the function it registered with "complete -F", and calls it
// with COMP_WORDS and COMP_CWORD set for the given words, the last one being completed. The result
// is COMPREPLY, sorted; anything on standard error fails the test through errorOutput.
QStringList complete(const QStringList &words, QString *errorOutput)
{
    static const char driver[] = R"(
source "$1" || exit 1
shift
COMP_WORDS=("$@")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMP_LINE="${COMP_WORDS[*]}"
COMP_POINT=${#COMP_LINE}
registration=$(complete -p "$1") || exit 1
function=${registration#*-F }
function=${function%% *}
COMPREPLY=()
"$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort
)";
    QStringList arguments = {QStringLiteral("--noprofile"), QStringLiteral("--norc"),
                             QStringLiteral("-c")};
    arguments += {QString::fromLatin1(driver), QStringLiteral("driver"), scriptFor(words.first())};
    arguments += words;
    const docs::RunResult result = docs::run(QStringLiteral("bash"), arguments);
    *errorOutput = QString::fromUtf8(result.standardError);
    if (!result.finished || result.exitCode != 0) {
        errorOutput->append(QStringLiteral("(bash ended with %1)").arg(result.exitCode));
    }
    QStringList candidates = QString::fromUtf8(result.standardOutput).split(QLatin1Char('\n'));
    candidates.removeAll(QString());
    return candidates;
}

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

QStringList numbers(int first, int last, const QString &prefix = {})
{
    QStringList list;
    for (int n = first; n <= last; ++n) {
        list.append(prefix + QString::number(n));
    }
    return list;
}

// Serial ports and simulator ptys that exist now, as --target offers them.
QStringList serialDevices(bool withPtys)
{
    QStringList devices;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString &name : dev.entryList(
             {QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
             QDir::System | QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        devices.append(dev.filePath(name));
    }
    if (withPtys) {
        const QDir pts(QStringLiteral("/dev/pts"));
        for (const QString &name : pts.entryList(QDir::System | QDir::Files)) {
            if (name.at(0).isDigit()) {
                devices.append(pts.filePath(name));
            }
        }
    }
    return devices;
}

} // namespace

class CompletionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void offersEveryOption_data();
    void offersEveryOption();
    void completesOptionPrefixes_data();
    void completesOptionPrefixes();
    void valueHints_data();
    void valueHints();
    void pathHints();
    void offeredValuesAreAccepted_data();
    void offeredValuesAreAccepted();
    void offeredNodesAreAcceptedBySimulator();

private:
    QTemporaryDir scratch;
};

void CompletionTest::initTestCase()
{
    QVERIFY(scratch.isValid());
}

void CompletionTest::offersEveryOption_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("path");
    QTest::newRow("vorsel") << QStringLiteral("vorsel") << docs::vorselProgram();
    QTest::newRow("vorsel-sim") << QStringLiteral("vorsel-sim") << docs::simulatorProgram();
}

// "--" offers exactly the long options of --help, "-" the short ones too.
void CompletionTest::offersEveryOption()
{
    QFETCH(QString, program);
    QFETCH(QString, path);
    const QList<docs::HelpOption> options = docs::helpOptions(path);
    QVERIFY2(options.size() > 3, "--help lists no options");
    QStringList longOptions;
    QStringList allOptions;
    for (const docs::HelpOption &option : options) {
        longOptions.append(QStringLiteral("--") + option.longName);
        allOptions.append(QStringLiteral("--") + option.longName);
        if (!option.shortName.isEmpty()) {
            allOptions.append(QLatin1Char('-') + option.shortName);
        }
    }
    QString errors;
    QCOMPARE(complete({program, QStringLiteral("--")}, &errors), sorted(longOptions));
    QCOMPARE(errors, QString());
    QCOMPARE(complete({program, QStringLiteral("-")}, &errors), sorted(allOptions));
    QCOMPARE(errors, QString());
}

void CompletionTest::completesOptionPrefixes_data()
{
    offersEveryOption_data();
}

// Every long option, typed but for its last letter, is among what is offered, and everything
// offered begins with what was typed.
void CompletionTest::completesOptionPrefixes()
{
    QFETCH(QString, program);
    QFETCH(QString, path);
    for (const docs::HelpOption &option : docs::helpOptions(path)) {
        const QString typed = QStringLiteral("--") + option.longName.chopped(1);
        QString errors;
        const QStringList offered = complete({program, typed}, &errors);
        QCOMPARE(errors, QString());
        QVERIFY2(offered.contains(QStringLiteral("--") + option.longName), qPrintable(typed));
        for (const QString &candidate : offered) {
            QVERIFY2(candidate.startsWith(typed), qPrintable(candidate));
        }
    }
}

void CompletionTest::valueHints_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("expected");
    const QStringList levels = {"0", "1", "2", "3"};
    QTest::newRow("output level") << QStringList{"vorsel", "--output-format", ""} << levels;
    QTest::newRow("output level, short") << QStringList{"vorsel", "-o", ""} << levels;
    QTest::newRow("output level after =")
        << QStringList{"vorsel", "--output-format", "=", ""} << levels;
    QTest::newRow("output level, = just typed")
        << QStringList{"vorsel", "--output-format", "="} << levels;
    QTest::newRow("output level in one word")
        << QStringList{"vorsel", "--output-format=2"} << QStringList{"--output-format=2"};
    QTest::newRow("node number") << QStringList{"vorsel", "-n", "1"}
                                 << (QStringList{"1"} + numbers(10, 17));
    QTest::newRow("first page") << QStringList{"vorsel", "--read", ""} << sorted(numbers(1, 17));
    QTest::newRow("next page") << QStringList{"vorsel", "--write", "1,"}
                               << sorted(numbers(2, 17, "1,"));
    QTest::newRow("pages already named are not offered")
        << QStringList{"vorsel", "-s", "3,1,1"} << numbers(10, 17, "3,1,");
    QTest::newRow("tag data: nothing")
        << QStringList{"vorsel", "--write", "1", ""} << QStringList{};
    QTest::newRow("after an operation without value: nothing")
        << QStringList{"vorsel", "--get-model-number", ""} << QStringList{};
    QTest::newRow("test text: nothing") << QStringList{"vorsel", "--test", ""} << QStringList{};
    QTest::newRow("simulator node")
        << QStringList{"vorsel-sim", "--node", "3"} << QStringList{"3", "30", "31"};
    QTest::newRow("simulator: no option value")
        << QStringList{"vorsel-sim", "--pty", ""} << QStringList{};
}

void CompletionTest::valueHints()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, expected);
    QString errors;
    QCOMPARE(complete(words, &errors), expected);
    QCOMPARE(errors, QString());
}

// Devices for --target and --serial; any path (such as the link to a simulator's pty) once a
// path is being typed; files for --state and --link.
void CompletionTest::pathHints()
{
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), scratch.filePath(QStringLiteral("v640"))));
    QFile state(scratch.filePath(QStringLiteral("unit.state")));
    QVERIFY(state.open(QIODevice::WriteOnly));
    state.close();
    const QString stem = scratch.filePath(QStringLiteral("v6"));
    QString errors;

    QCOMPARE(complete({"vorsel", "--target", ""}, &errors), sorted(serialDevices(true)));
    QCOMPARE(complete({"vorsel-sim", "--serial", ""}, &errors), sorted(serialDevices(false)));
    QCOMPARE(complete({"vorsel", "--target", stem}, &errors),
             QStringList{scratch.filePath(QStringLiteral("v640"))});
    QCOMPARE(complete({"vorsel", "-t", scratch.filePath(QStringLiteral("u"))}, &errors),
             QStringList{scratch.filePath(QStringLiteral("unit.state"))});
    QCOMPARE(complete({"vorsel-sim", "--state", scratch.filePath(QStringLiteral("un"))}, &errors),
             QStringList{scratch.filePath(QStringLiteral("unit.state"))});
    QCOMPARE(complete({"vorsel-sim", "--link", stem}, &errors),
             QStringList{scratch.filePath(QStringLiteral("v640"))});
    QCOMPARE(errors, QString());

    // Only loopback addresses are suggested for the simulator to listen on.
    const QStringList addresses = complete({"vorsel-sim", "--listen", ""}, &errors);
    QVERIFY(!addresses.isEmpty());
    for (const QString &address : addresses) {
        QVERIFY2(address.startsWith(QLatin1String("127.")), qPrintable(address));
    }
}

void CompletionTest::offeredValuesAreAccepted_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("operation");
    const QStringList query = {QStringLiteral("--get-model-number")};
    QTest::newRow("node number") << "--node-number" << query;
    QTest::newRow("serial parameters") << "--baud-rate" << query;
    QTest::newRow("time-out") << "--timeout-interval" << query;
    QTest::newRow("output level") << "--output-format" << query;
    QTest::newRow("pages") << "--read" << QStringList{};
    QTest::newRow("byte address") << "--byte-write" << QStringList{"00"};
    QTest::newRow("subnet mask") << "--set-subnet-mask" << QStringList{};
}

// Every value offered for an option is one that vorsel takes: run against the simulator, each
// ends with status 0.
void CompletionTest::offeredValuesAreAccepted()
{
    QFETCH(QString, option);
    QFETCH(QStringList, operation);
    QString errors;
    const QStringList values = complete({"vorsel", option, ""}, &errors);
    QCOMPARE(errors, QString());
    QVERIFY(!values.isEmpty());

    QProcess simulator;
    simulator.start(docs::simulatorProgram(), {QStringLiteral("--listen"), simulatorAddress});
    QVERIFY(simulator.waitForStarted(10000));
    QByteArray readiness;
    while (!readiness.contains("ready\n") && simulator.waitForReadyRead(10000)) {
        readiness += simulator.readAllStandardOutput();
    }
    QVERIFY2(readiness.contains("ready\n"), simulator.readAllStandardError().constData());

    for (const QString &value : values) {
        const docs::RunResult result = docs::run(
            docs::vorselProgram(), QStringList{QStringLiteral("--target"), simulatorAddress,
                                               QStringLiteral("--timeout-interval"),
                                               QStringLiteral("10000"), option, value} +
                                       operation);
        QVERIFY2(
            result.finished && result.exitCode == 0,
            qPrintable(
                QStringLiteral("%1 %2 ended with %3").arg(option, value).arg(result.exitCode)));
        QVERIFY2(!result.standardOutput.startsWith("NG:"),
                 qPrintable(QStringLiteral("%1 %2: %3")
                                .arg(option, value, QString::fromUtf8(result.standardOutput))));
    }

    simulator.write("quit\n");
    QVERIFY(simulator.waitForFinished(10000));
    QCOMPARE(simulator.exitCode(), 0);
}

void CompletionTest::offeredNodesAreAcceptedBySimulator()
{
    QString errors;
    const QStringList nodes = complete({"vorsel-sim", "--node", ""}, &errors);
    QCOMPARE(errors, QString());
    QVERIFY(!nodes.isEmpty());
    for (const QString &node : nodes) {
        const docs::RunResult result =
            docs::run(docs::simulatorProgram(),
                      {QStringLiteral("--pty"), QStringLiteral("--node"), node}, "quit\n");
        QVERIFY2(result.finished && result.exitCode == 0,
                 qPrintable(QStringLiteral("--node %1: %2")
                                .arg(node, QString::fromUtf8(result.standardError))));
        QVERIFY(result.standardOutput.contains("ready\n"));
    }
}

QTEST_GUILESS_MAIN(CompletionTest)
#include "tst_completion.moc"

#include "consoleapplicationmain.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <unistd.h>

#include "valueparsers.h"

namespace {

using Commands::ValueForm;

// The options that are no command of the unit's: settings, and the operations that a production
// run carries out as sequences of frames.
struct OptionDefinition
{
    const char *shortName;
    const char *longName;
    const char *valueName;
    const char *description;
    bool operation;
};

#define TEXT(text) QT_TRANSLATE_NOOP("ConsoleApplicationMain", text)

// In the order the parser lists them: these settings, then the unit's commands, then the rest.
const OptionDefinition settingDefinitions[] = {
    {"t", "target", TEXT("device"), TEXT("Specify the connection destination."), false},
    {"n", "node-number", TEXT("node number"), TEXT("Specify the destination node number."), false},
    {"c", "baud-rate", TEXT("bps"),
     TEXT("Specify the communication parameters of the serial port."), false},
    {"i", "timeout-interval", TEXT("msec"), TEXT("Specify the communication timeout interval."),
     false},
    {"a", "error-abort", nullptr, TEXT("Abort when a response error occurs."), false},
    {"o", "output-format", TEXT("level"),
     TEXT("By default, human readable output. The higher the level, the more information is "
          "output. json: JSON Lines, one object per exchange."),
     false},
};

const OptionDefinition runDefinitions[] = {
    {nullptr, "verbose", nullptr,
     TEXT("Names the settings, and the cause of every failure, on standard error."), false},
    {nullptr, "trace", TEXT("file"),
     TEXT("Appends a timestamped log of the traffic to the file (- for standard error)."), false},
    {nullptr, "verify", nullptr,
     TEXT("After a write, reads the written pages back and compares them."), false},
    {nullptr, "wait", TEXT("msec"),
     TEXT("Repeats the operation while the unit answers with an error, for up to msec."), false},
    {nullptr, "retries", TEXT("count"),
     TEXT("Sends a frame again after a communication failure, up to count times."), false},
    {nullptr, "dump", TEXT("file"),
     TEXT("Reads the whole ID Tag into an image file (- for standard output)."), true},
    {nullptr, "restore", TEXT("file"),
     TEXT("Writes an image file (- for standard input) to the whole ID Tag."), true},
    {nullptr, "compare", TEXT("file"),
     TEXT("Compares the whole ID Tag with an image file (- for standard input)."), true},
    {nullptr, "scan", nullptr, TEXT("Lists the node numbers that answer on a serial line."), true},
};

QCommandLineOption option(const char *shortName, const char *longName, const char *valueName,
                          const char *description)
{
    QStringList names;
    if (shortName != nullptr) {
        names << QString::fromLatin1(shortName);
    }
    names << QString::fromLatin1(longName);
    return QCommandLineOption(
        names, QCoreApplication::translate("ConsoleApplicationMain", description),
        valueName != nullptr ? QCoreApplication::translate("ConsoleApplicationMain", valueName)
                             : QString());
}

// Why no frame can carry an operation's parameter.
QString unbuildable(const Commands::Command &command, const QString &parameter)
{
    for (const v640_code_entry *entry = v640_command_list; entry->text_length != 0; ++entry) {
        if (entry->code == command.code && (parameter.size() < entry->min_parameter_length ||
                                            parameter.size() > entry->max_parameter_length)) {
            return QStringLiteral("%1 to %2 characters fit a frame, got %3")
                .arg(entry->min_parameter_length)
                .arg(entry->max_parameter_length)
                .arg(parameter.size());
        }
    }
    return QStringLiteral("holds a character that no frame may carry");
}

} // namespace

void ConsoleApplicationMain::main()
{
    parser.setApplicationDescription(
        tr("Reads and writes RFID ID tags and configures the V640 Amplifier Unit."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionDefinition &definition : settingDefinitions) {
        parser.addOption(option(definition.shortName, definition.longName, definition.valueName,
                                definition.description));
    }
    for (int i = 0; i < Commands::operationCount; ++i) {
        const Commands::Command &command = Commands::operations[i];
        parser.addOption(
            option(command.shortName, command.option, command.valueName, command.description));
    }
    for (const OptionDefinition &definition : runDefinitions) {
        parser.addOption(option(definition.shortName, definition.longName, definition.valueName,
                                definition.description));
    }
    parser.addPositionalArgument(
        QStringLiteral("[tag data]"),
        tr("ID tag data to be written (hexadecimal character string representation)."));

    // Prints help, version or its own error message and ends the process where asked to.
    parser.process(*QCoreApplication::instance());

    QStringList refusals;
    // Every value is judged; the run ends after the link opened, naming each cause.
    const auto refuse = [&refusals](const char *option, const QString &cause) {
        refusals << QStringLiteral("--%1: %2").arg(QLatin1String(option), cause);
    };

    const QString typedTagData = parser.positionalArguments().join(QString());
    // Upper case only once the text is known to be ASCII hexadecimal digits.
    const QString tagData = isHexadecimalText(typedTagData) ? typedTagData.toUpper() : typedTagData;

    if (parser.isSet(QStringLiteral("target"))) {
        target = parser.value(QStringLiteral("target"));
    }

    bool converted = false;
    if (parser.isSet(QStringLiteral("node-number"))) {
        const QString value = parser.value(QStringLiteral("node-number"));
        nodeNumber = value.toInt(&converted);
        if (!converted || nodeNumber < 0 || nodeNumber > 17) {
            refuse("node-number", QStringLiteral("0 to 17 expected, got '%1'").arg(value));
        }
    }
    if (parser.isSet(QStringLiteral("baud-rate"))) {
        const QString value = parser.value(QStringLiteral("baud-rate"));
        serialSetting.setProperties(value);
        // Running on with serial parameters the user did not ask for would be a silent surprise;
        // a rate of 0 (no digits, or too many) is no rate at all.
        if (!serialSetting.isValid() || serialSetting.baudRate() == 0) {
            refuse("baud-rate",
                   QStringLiteral("a rate and optional parity, data bits, stop bits and flow "
                                  "control such as 9600 or 19200E71 expected, got '%1'")
                       .arg(value));
            // The link is still opened before the values are judged: with the defaults, so that
            // a port refusing values nobody meant cannot hide the invalid parameter.
            serialSetting = SerialCommunicationSetting();
        }
    }
    serialSetting.setParity(nodeNumber == 0 ? QSerialPort::EvenParity : QSerialPort::NoParity);
    if (parser.isSet(QStringLiteral("timeout-interval"))) {
        const QString value = parser.value(QStringLiteral("timeout-interval"));
        timeoutInterval = value.toInt(&converted);
        if (!converted || timeoutInterval < 1000 || timeoutInterval > 60000) {
            timeoutInterval = 1;
            refuse("timeout-interval",
                   QStringLiteral("1000 to 60000 milliseconds expected, got '%1'").arg(value));
        }
    }
    if (parser.isSet(QStringLiteral("error-abort"))) {
        errorAbort = true;
    }
    if (parser.isSet(QStringLiteral("output-format"))) {
        const QString value = parser.value(QStringLiteral("output-format"));
        outputLevel = value.toInt(&converted);
        if (value == QLatin1String("json")) {
            outputLevel = 0;
            jsonReport.setEnabled(true);
            outputStream.setCodec("UTF-8");
        } else if (!converted || outputLevel < 0 || outputLevel > 3) {
            outputLevel = 0;
            refuse("output-format", QStringLiteral("0 to 3 or json expected, got '%1'").arg(value));
        }
    }
    diagnostics.setEnabled(parser.isSet(QStringLiteral("verbose")));
    const QString traceProblem = parser.isSet(QStringLiteral("trace"))
                                     ? trace.open(parser.value(QStringLiteral("trace")))
                                     : QString();
    if (!traceProblem.isEmpty()) {
        refuse("trace", traceProblem);
    }
    linkTarget = LinkTarget(target, serialSetting, timeoutInterval);
    engine.setTimeout(timeoutInterval);
    engine.setLinkName(linkTarget.linkName(nodeNumber));
    diagnostics.say(linkTarget.settingsText(nodeNumber));

    if (!openV640Device()) {
        ExchangeRecord unreachable;
        unreachable.outcome = ExchangeOutcome::LinkFailed;
        unreachable.reason = linkFailureReason;
        report(unreachable);
        exitCommander(CommunicationError);
        return;
    }
    engine.setLinkName(linkTarget.linkName(nodeNumber));
    refusals += production.configure(parser, linkTarget.isSerialPort(), jsonReport.isEnabled());
    const QString dumpProblem = production.dumpName().isEmpty()
                                    ? QString()
                                    : productionReport.openDump(production.dumpName());
    if (!dumpProblem.isEmpty()) {
        refuse("dump", dumpProblem);
    }
    // Only now: reading an image from a terminal must still be interruptible as usual.
    if (production.waits()) {
        interruptWatcher.watch();
    }
    jsonReport.setCountsAttempts(production.countsAttempts());

    const char *builtFrame = nullptr;
    bool tagDataTaken = false;
    for (const OptionDefinition &definition : runDefinitions) {
        oneShot += definition.operation && parser.isSet(QLatin1String(definition.longName)) ? 1 : 0;
    }
    for (int i = 0; i < Commands::operationCount; ++i) {
        const Commands::Command &command = Commands::operations[i];
        const QString name = QLatin1String(command.option);
        if (!parser.isSet(name)) {
            continue;
        }
        ++oneShot;
        tagDataTaken |= command.value == ValueForm::PagesAndTagData ||
                        command.value == ValueForm::PagesAndOnePage ||
                        command.value == ValueForm::AddressAndTagData;
        const QString value = parser.value(name);
        QString parameter;
        QString problem;
        switch (command.value) {
        case ValueForm::Pages:
        case ValueForm::PagesAndTagData:
        case ValueForm::PagesAndOnePage: {
            parameter = parsePagesParameter(value);
            if (parameter.isEmpty()) {
                problem = QStringLiteral("page numbers 1 to 17 separated by commas expected, "
                                         "got '%1'")
                              .arg(value);
            } else if (command.value != ValueForm::Pages) {
                const int pages = population_count(parameter.toUInt(nullptr, 16));
                problem = tagDataProblem(command.value, tagData, pages, 0);
                parameter += tagData;
            }
            break;
        }
        case ValueForm::AddressAndTagData: {
            const int address = byteAddress(value);
            if (address < 0) {
                problem = QStringLiteral("a hexadecimal byte address 0 to 87 expected, got '%1'")
                              .arg(value);
            } else {
                problem = tagDataProblem(command.value, tagData, 0, address);
                parameter =
                    QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper() + tagData;
            }
            break;
        }
        case ValueForm::IPAddress:
            parameter = parseIPAddressParameter(value);
            if (parameter.isEmpty()) {
                problem = QStringLiteral("four decimal parts 0 to 255 such as 192.168.1.50 "
                                         "expected, got '%1'")
                              .arg(value);
            }
            break;
        case ValueForm::Verbatim:
            parameter = value;
            break;
        case ValueForm::None:
            break;
        }
        if (problem.isEmpty()) {
            const QByteArray bytes = toFrameBytes(parameter);
            builtFrame = v640_build_command_frame(
                static_cast<unsigned int>(nodeNumber), command.code,
                command.value == ValueForm::None ? nullptr : bytes.constData());
            // Every value counts, also those of operations that are not sent.
            if (builtFrame == nullptr) {
                problem = unbuildable(command, parameter);
            }
        }
        if (!problem.isEmpty()) {
            refuse(command.option, problem);
        }
    }

    // Arguments that nothing takes would be dropped without a word: a text with a space sent
    // cut short, a value meant for an option that takes none. They are counted, not shown: the
    // rest of a password with a space is still a password.
    const int untaken = tagDataTaken ? 0 : parser.positionalArguments().size();
    if (untaken > 0 && parser.isSet(QStringLiteral("test"))) {
        refuse("test", QStringLiteral("the text is one argument (quote a text with spaces), got "
                                      "%1 more")
                           .arg(untaken));
    } else if (untaken > 0) {
        refusals << QStringLiteral("%1 argument%2 that no operation takes: only --write, "
                                   "--same-write and --byte-write take tag data")
                        .arg(untaken)
                        .arg(untaken == 1 ? "" : "s");
    }

    if (!refusals.isEmpty()) {
        for (const QString &refusal : refusals) {
            diagnostics.say(refusal);
        }
        ExchangeRecord refused;
        refused.outcome = ExchangeOutcome::NotSent;
        refused.reason = refusals.join(QStringLiteral("; "));
        if (jsonReport.isEnabled()) {
            jsonReport.write(outputStream, refused);
        }
        exitCommander(InvalidParameter);
        return;
    }

    if (builtFrame != nullptr) {
        text_copy(builtFrame, frame, v640_frame_size(builtFrame));
    }

    connect(&responseTimer, &QTimer::timeout, this, &ConsoleApplicationMain::responseTimeout);
    connect(&production, &ProductionRun::probing, this,
            [this](int node) { productionReport.probing(node); });
    connect(&production, &ProductionRun::differs, this,
            [this](const char *what, int address, quint8 expected, quint8 read) {
                productionReport.differs(what, address, expected, read);
            });
    connect(&interruptWatcher, &InterruptWatcher::interrupted, &engine, &ExchangeEngine::interrupt);
    responseTimer.setSingleShot(true);
    responseTimer.setInterval(timeoutInterval);
    responseTimer.stop();
    // Interactive mode: a time-out closes the link and opens it anew.
    engine.setReopenAfterTimeout(oneShot == 0);

    // A prompt would break the JSON Lines that a script parses.
    if (oneShot == 0 && isatty(STDIN_FILENO) && !jsonReport.isEnabled()) {
        prompt = QStringLiteral("> ");
    }

    stdinNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(stdinNotifier, &QSocketNotifier::activated, this, &ConsoleApplicationMain::filter);
    stdinNotifier->setEnabled(false);

    if (oneShot > 0) {
        setFrame(production.start(QByteArray(frame), nodeNumber));
        sendV640Command();
        return;
    }
    awaitLine();
}

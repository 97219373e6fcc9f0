#include "consoleapplicationmain.h"

#include <QCoreApplication>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cctype>
#include <unistd.h>

namespace {

// How an operation turns its option value (and the tag data) into the parameter text.
enum class ParameterForm {
    Setting,         // not an operation
    None,            // no parameter characters
    Pages,           // page mask
    PagesAndTagData, // page mask, then 16 digits of tag data per page
    PagesAndOnePage, // page mask, then 16 digits of tag data for every page
    AddressAndTagData,
    Verbatim, // the value, unchanged
    IPAddress,
    Sequence, // frames of the production run's own
};

struct OptionDefinition
{
    const char *shortName;
    const char *longName;
    const char *valueName;
    const char *description;
    ParameterForm form;
    unsigned int code;
};

// In the order the parser lists them and main looks at them.
const OptionDefinition optionDefinitions[] = {
    {"t", "target", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "device"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Specify the connection destination."),
     ParameterForm::Setting, 0},
    {"n", "node-number", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "node number"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Specify the destination node number."),
     ParameterForm::Setting, 0},
    {"c", "baud-rate", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "bps"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Specify the communication parameters of the serial port."),
     ParameterForm::Setting, 0},
    {"i", "timeout-interval", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "msec"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Specify the communication timeout interval."),
     ParameterForm::Setting, 0},
    {"a", "error-abort", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Abort when a response error occurs."),
     ParameterForm::Setting, 0},
    {"o", "output-format", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "level"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "By default, human readable output. The higher the level, the more "
                       "information is output. json: JSON Lines, one object per exchange."),
     ParameterForm::Setting, 0},
    {"r", "read", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "peges"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Reads any pages of data from the ID Tag."),
     ParameterForm::Pages, 0x0100},
    {"w", "write", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "peges"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Data is written in page units to the ID Tag."),
     ParameterForm::PagesAndTagData, 0x0200},
    {"s", "same-write", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "peges"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Writes the same data to multiple pages of an ID Tag."),
     ParameterForm::PagesAndOnePage, 0x0300},
    {"b", "byte-write", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "address"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Writes data to any specified number of bytes starting from the address "
                       "specified in the ID Tag."),
     ParameterForm::AddressAndTagData, 0x0400},
    {nullptr, "test", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "hex string"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Performs a communications test."),
     ParameterForm::Verbatim, 0x10},
    {nullptr, "nak", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Sends the response made immediately before again."),
     ParameterForm::None, 0x12},
    {nullptr, "get-model-number", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Getting the Model Number."), ParameterForm::None,
     0x1401},
    {nullptr, "get-firmware-version", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Getting the Firmware Version."),
     ParameterForm::None, 0x1402},
    {nullptr, "get-mac-address", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Getting the MAC Address."), ParameterForm::None,
     0x1403},
    {nullptr, "get-dip-switch-status", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Checking the DIP Switch network setting."),
     ParameterForm::None, 0x1410},
    {nullptr, "get-ip-address-on-dip-switch", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Checking IP Address on DIP Switch."),
     ParameterForm::None, 0x1411},
    {nullptr, "get-subnet-mask-on-dip-switch", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Checking subnet mask on DIP Switch."),
     ParameterForm::None, 0x1412},
    {nullptr, "get-ip-address-in-rom", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Checking IP Address in ROM."),
     ParameterForm::None, 0x1413},
    {nullptr, "get-subnet-mask-in-rom", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Checking subnet mask in ROM."),
     ParameterForm::None, 0x1414},
    {nullptr, "get-memory-status", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Getting the Memory Status."), ParameterForm::None,
     0x1420},
    {nullptr, "get-antenna-connection-status", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Getting the Antenna Connection Status."),
     ParameterForm::None, 0x1421},
    {nullptr, "get-last-command", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Gets the command code of the last command."),
     ParameterForm::None, 0x15},
    {nullptr, "get-communications-history", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Gets the history of communications."),
     ParameterForm::None, 0x16},
    {nullptr, "clear-communications-history", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Clears the communications history."),
     ParameterForm::None, 0x17},
    {nullptr, "noise-measurement", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "The levels of noise in the vicinity."),
     ParameterForm::None, 0x40},
    {nullptr, "reset", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "All Amplifier Unit processing is stopped, and the initial status is "
                       "re-established."),
     ParameterForm::None, 0x7F},
    {nullptr, "set-web-password", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "password"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Sets the Web password."), ParameterForm::Verbatim,
     0xA2},
    {nullptr, "set-ip-address", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "address"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Sets the IP address."), ParameterForm::IPAddress,
     0xA300},
    {nullptr, "set-subnet-mask", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "subnet mask"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain", "Sets the subnet mask."), ParameterForm::IPAddress,
     0xA301},
    {nullptr, "verbose", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Names the settings, and the cause of every failure, on standard error."),
     ParameterForm::Setting, 0},
    {nullptr, "trace", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "file"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Appends a timestamped log of the traffic to the file (- for standard "
                       "error)."),
     ParameterForm::Setting, 0},
    {nullptr, "verify", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "After a write, reads the written pages back and compares them."),
     ParameterForm::Setting, 0},
    {nullptr, "wait", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "msec"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Repeats the operation while the unit answers with an error, for up to "
                       "msec."),
     ParameterForm::Setting, 0},
    {nullptr, "retries", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "count"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Sends a frame again after a communication failure, up to count times."),
     ParameterForm::Setting, 0},
    {nullptr, "dump", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "file"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Reads the whole ID Tag into an image file (- for standard output)."),
     ParameterForm::Sequence, 0},
    {nullptr, "restore", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "file"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Writes an image file (- for standard input) to the whole ID Tag."),
     ParameterForm::Sequence, 0},
    {nullptr, "compare", QT_TRANSLATE_NOOP("ConsoleApplicationMain", "file"),
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Compares the whole ID Tag with an image file (- for standard input)."),
     ParameterForm::Sequence, 0},
    {nullptr, "scan", nullptr,
     QT_TRANSLATE_NOOP("ConsoleApplicationMain",
                       "Lists the node numbers that answer on a serial line."),
     ParameterForm::Sequence, 0},
};

// A tag holds 17 pages of 8 bytes; a byte write must end within it.
const int tagBytes = 136;
const int pageDigits = 16;

QString optionName(const OptionDefinition &definition)
{
    return QString::fromLatin1(definition.longName);
}

// Digits as typed, ASCII only: a character that merely upper-cases to a digit (a ligature such
// as U+FB00) would send data nobody typed.
bool isHexadecimalText(const QString &text)
{
    for (const QChar character : text) {
        const char latin = character.toLatin1();
        if (character.unicode() > 0x7F || !isxdigit(static_cast<unsigned char>(latin))) {
            return false;
        }
    }
    return true;
}

// The byte address as typed: hexadecimal digits only, 0 to 87.
int byteAddress(const QString &text)
{
    bool converted = false;
    const int address = text.toInt(&converted, 16);
    return converted && !text.isEmpty() && isHexadecimalText(text) && address <= 0x87 ? address
                                                                                      : -1;
}

// Why the tag data does not fit the operation exactly, or nothing when it does: nothing may be
// cut off or padded.
QString tagDataProblem(ParameterForm form, const QString &tagData, int pages, int address)
{
    if (!isHexadecimalText(tagData)) {
        return QStringLiteral("tag data must be hexadecimal digits, got '%1'").arg(tagData);
    }
    switch (form) {
    case ParameterForm::PagesAndTagData:
        if (tagData.size() != pages * pageDigits) {
            return QStringLiteral("%1 hexadecimal digits per page expected, got %2 for %3 page%4")
                .arg(pageDigits)
                .arg(tagData.size())
                .arg(pages)
                .arg(pages == 1 ? "" : "s");
        }
        break;
    case ParameterForm::PagesAndOnePage:
        if (tagData.size() != pageDigits) {
            return QStringLiteral("%1 hexadecimal digits expected, got %2")
                .arg(pageDigits)
                .arg(tagData.size());
        }
        break;
    case ParameterForm::AddressAndTagData:
        if (tagData.size() < 2 || tagData.size() % 2 != 0) {
            return QStringLiteral("whole bytes of tag data expected (an even number of "
                                  "hexadecimal digits), got %1 digits")
                .arg(tagData.size());
        }
        if (address + tagData.size() / 2 > tagBytes) {
            return QStringLiteral("%1 bytes from address %2 end beyond the tag's %3 bytes")
                .arg(tagData.size() / 2)
                .arg(address, 2, 16, QLatin1Char('0'))
                .arg(tagBytes);
        }
        break;
    default:
        break;
    }
    return QString();
}

// Why no frame can carry an operation's parameter.
QString unbuildable(const OptionDefinition &definition, const QString &parameter)
{
    for (const v640_code_entry *entry = v640_command_list; entry->text_length != 0; ++entry) {
        if (entry->code == definition.code && (parameter.size() < entry->min_parameter_length ||
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
    for (const OptionDefinition &definition : optionDefinitions) {
        QStringList names;
        if (definition.shortName != nullptr) {
            names << QString::fromLatin1(definition.shortName);
        }
        names << optionName(definition);
        const QString valueName =
            definition.valueName != nullptr ? tr(definition.valueName) : QString();
        parser.addOption(QCommandLineOption(names, tr(definition.description), valueName));
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
    if (parser.isSet(QStringLiteral("trace")) &&
        !trace.open(parser.value(QStringLiteral("trace")))) {
        refuse("trace", QStringLiteral("cannot open '%1': %2")
                            .arg(parser.value(QStringLiteral("trace")), trace.errorString()));
    }
    diagnostics.say(linkSettings());

    if (!openV640Device()) {
        failed(ExchangeOutcome::LinkFailed, linkFailureReason);
        exitCommander(CommunicationError);
        return;
    }
    refusals += production.configure(parser, qobject_cast<QSerialPort *>(device) != nullptr,
                                     jsonReport.isEnabled());

    const char *builtFrame = nullptr;
    for (const OptionDefinition &definition : optionDefinitions) {
        if (definition.form == ParameterForm::Setting || !parser.isSet(optionName(definition))) {
            continue;
        }
        ++oneShot;
        if (definition.form == ParameterForm::Sequence) {
            continue;
        }
        const QString value = parser.value(optionName(definition));
        QString parameter;
        QString problem;
        switch (definition.form) {
        case ParameterForm::Pages:
        case ParameterForm::PagesAndTagData:
        case ParameterForm::PagesAndOnePage: {
            parameter = parsePagesParameter(value);
            if (parameter.isEmpty()) {
                problem = QStringLiteral("page numbers 1 to 17 separated by commas expected, "
                                         "got '%1'")
                              .arg(value);
            } else if (definition.form != ParameterForm::Pages) {
                const int pages = population_count(parameter.toUInt(nullptr, 16));
                problem = tagDataProblem(definition.form, tagData, pages, 0);
                parameter += tagData;
            }
            break;
        }
        case ParameterForm::AddressAndTagData: {
            const int address = byteAddress(value);
            if (address < 0) {
                problem = QStringLiteral("a hexadecimal byte address 0 to 87 expected, got '%1'")
                              .arg(value);
            } else {
                problem = tagDataProblem(definition.form, tagData, 0, address);
                parameter =
                    QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper() + tagData;
            }
            break;
        }
        case ParameterForm::IPAddress:
            parameter = parseIPAddressParameter(value);
            if (parameter.isEmpty()) {
                problem = QStringLiteral("four decimal parts 0 to 255 such as 192.168.1.50 "
                                         "expected, got '%1'")
                              .arg(value);
            }
            break;
        case ParameterForm::Verbatim:
            parameter = value;
            break;
        case ParameterForm::None:
        case ParameterForm::Setting:
        case ParameterForm::Sequence:
            break;
        }
        if (problem.isEmpty()) {
            const QByteArray bytes = toFrameBytes(parameter);
            builtFrame = v640_build_command_frame(
                static_cast<unsigned int>(nodeNumber), definition.code,
                definition.form == ParameterForm::None ? nullptr : bytes.constData());
            // Every value counts, also those of operations that are not sent.
            if (builtFrame == nullptr) {
                problem = unbuildable(definition, parameter);
            }
        }
        if (!problem.isEmpty()) {
            refuse(definition.longName, problem);
        }
    }

    if (!refusals.isEmpty()) {
        for (const QString &refusal : refusals) {
            diagnostics.say(refusal);
        }
        exchangeEnded(ExchangeOutcome::NotSent, refusals.join(QStringLiteral("; ")));
        exitCommander(InvalidParameter);
        return;
    }

    if (builtFrame != nullptr) {
        text_copy(builtFrame, frame, v640_frame_size(builtFrame));
    }

    connect(&responseTimer, &QTimer::timeout, this, &ConsoleApplicationMain::responseTimeout);
    connect(&production, &ProductionRun::resend, this, &ConsoleApplicationMain::resendV640Command);
    connect(&production, &ProductionRun::interrupted, this,
            [this]() { exitCommander(Interrupted); });
    responseTimer.setSingleShot(true);
    responseTimer.setInterval(timeoutInterval);
    responseTimer.stop();

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

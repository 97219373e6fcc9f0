#include "simulatoroptions.h"

#include "standardoutput.h"

#include <QCommandLineParser>

namespace {

const char controlHelp[] = R"(
Control commands, one per line on standard input or on the --control port; each gets one reply
line starting with "ok" or "error":
  fault no-tag on|off          no ID tag in the field (tag commands end with error 72)
  fault delay MS               wait MS milliseconds before each response (0: off)
  fault split BYTES PAUSE_MS   send responses in pieces of BYTES with pauses (0 0: off)
  fault ignore-every N         give no answer to every Nth command (0: off)
  fault close on|off           close the TCP connection instead of answering
  fault bad-byte on|off        put byte 80 (hex) before the CR of each response
  fault trailing HEX|off       send these bytes after each response
  fault clear                  all faults off, a pending respond or flood dropped
  faults                       reply "ok" and the fault settings
  respond HEX                  answer the next command with exactly these bytes
  flood N                      answer the next command with N bytes "A" and no CR
  send HEX                     send these bytes now to the program
  received                     reply "ok" and the bytes received from the program, in hex
  clear-received               forget the bytes received so far
  line                         reply "ok" and the pty's line settings when the program last
                               sent bytes (the serial device's own settings)
  line now                     the same, as the settings are now
  set FIELD VALUE              set a state field, in the text form its response carries
  get FIELD                    reply "ok" and the value of a state field
  page N HEX16                 set tag page N (0 to 16, byte address N*8) to 8 bytes
  state                        reply "ok" and all state fields as NAME=VALUE pairs
  quit                         end the simulator
Fields: model firmware mac dip ip-dip mask-dip ip-rom mask-rom memory antenna noise password
last-command history tag. The simulator's page N is the program's page N+1.
Before serving it prints "tcp ADDRESS:PORT", "pty PATH", "link PATH", "serial DEVICE" and
"control ADDRESS:PORT" for what it opened, then "ready". SIGINT, SIGTERM and "quit" end it
with status 0; a transport that cannot be opened ends it with status 1.)";

bool parseNumberOption(const QString &text, int minimum, int maximum, int *value)
{
    bool valid = false;
    const int number = text.toInt(&valid);
    if (!valid || number < minimum || number > maximum) {
        return false;
    }
    *value = number;
    return true;
}

// The fault options take the same values as the control command "fault".
bool applyFaultOption(FaultSettings *faults, const QByteArray &name, const QString &value,
                      QString *message)
{
    QList<QByteArray> arguments;
    if (name == "split") {
        arguments = value.toLatin1().split(':');
    } else if (!value.isNull()) {
        arguments.append(value.toLatin1());
    } else {
        arguments.append("on");
    }
    QString reason;
    if (!faults->apply(name, arguments, &reason)) {
        *message =
            QStringLiteral("invalid value for --%1: %2").arg(QString::fromLatin1(name), value);
        return false;
    }
    return true;
}

} // namespace

OptionsResult parseOptions(const QStringList &arguments, SimulatorOptions *options,
                           QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A stand-in Amplifier Unit: answers V640 frames from a program over TCP, "
                       "a pseudo-terminal or a serial device."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("Serve TCP on this IP address."),
                                          QStringLiteral("address"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("TCP port (default 7090; 0: any free)."),
                                        QStringLiteral("n"));
    const QCommandLineOption ptyOption(QStringLiteral("pty"),
                                       QStringLiteral("Serve on a new pseudo-terminal."));
    const QCommandLineOption linkOption(
        QStringLiteral("link"), QStringLiteral("Place a symbolic link to the pty's slave here."),
        QStringLiteral("path"));
    const QCommandLineOption serialOption(QStringLiteral("serial"),
                                          QStringLiteral("Serve on this serial device."),
                                          QStringLiteral("device"));
    const QCommandLineOption settingsOption(
        QStringLiteral("settings"),
        QStringLiteral("Serial settings such as 9600, 19200E71, 38400O82H (default 9600)."),
        QStringLiteral("text"));
    const QCommandLineOption nodeOption(QStringLiteral("node"),
                                        QStringLiteral("Node number, 1 to 31 (default 1)."),
                                        QStringLiteral("n"));
    const QCommandLineOption stateOption(
        QStringLiteral("state"), QStringLiteral("Load the state from this file, save it there."),
        QStringLiteral("file"));
    const QCommandLineOption controlOption(
        QStringLiteral("control"),
        QStringLiteral("Control channel on this TCP port (0: any free) of the --listen address "
                       "or 127.0.0.1."),
        QStringLiteral("port"));
    const QCommandLineOption noTagOption(QStringLiteral("no-tag"),
                                         QStringLiteral("Fault: no ID tag in the field."));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Fault: wait before each response."),
                                         QStringLiteral("ms"));
    const QCommandLineOption splitOption(
        QStringLiteral("split"), QStringLiteral("Fault: send responses in pieces with pauses."),
        QStringLiteral("bytes:pause"));
    const QCommandLineOption ignoreOption(QStringLiteral("ignore-every"),
                                          QStringLiteral("Fault: no answer to every Nth command."),
                                          QStringLiteral("n"));
    const QCommandLineOption closeOption(
        QStringLiteral("close"),
        QStringLiteral("Fault: close the connection instead of answering."));
    const QCommandLineOption badByteOption(
        QStringLiteral("bad-byte"), QStringLiteral("Fault: a byte outside the frame characters."));
    const QCommandLineOption trailingOption(
        QStringLiteral("trailing"), QStringLiteral("Fault: send these bytes after each response."),
        QStringLiteral("hex"));
    parser.addOptions({listenOption, portOption, ptyOption, linkOption, serialOption,
                       settingsOption, nodeOption, stateOption, controlOption, noTagOption,
                       delayOption, splitOption, ignoreOption, closeOption, badByteOption,
                       trailingOption});

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return OptionsResult::Invalid;
    }
    if (parser.isSet(helpOption)) {
        StandardOutput::writeLine(parser.helpText().toLocal8Bit() + controlHelp);
        return OptionsResult::ShowedHelp;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message =
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return OptionsResult::Invalid;
    }

    int number = 0;
    if (parser.isSet(listenOption)) {
        // Addresses only: the simulator never looks a name up.
        options->listen = true;
        if (!options->listenAddress.setAddress(parser.value(listenOption))) {
            *message = QStringLiteral("--listen takes an IP address, not %1")
                           .arg(parser.value(listenOption));
            return OptionsResult::Invalid;
        }
    }
    if (parser.isSet(portOption)) {
        if (!options->listen || !parseNumberOption(parser.value(portOption), 0, 65535, &number)) {
            *message = QStringLiteral("--port takes 0 to 65535 and goes with --listen");
            return OptionsResult::Invalid;
        }
        options->port = static_cast<quint16>(number);
    }
    options->pty = parser.isSet(ptyOption);
    if (parser.isSet(linkOption)) {
        options->linkPath = parser.value(linkOption);
        if (!options->pty || options->linkPath.isEmpty()) {
            *message = QStringLiteral("--link takes a path and goes with --pty");
            return OptionsResult::Invalid;
        }
    }
    options->serialDevice = parser.value(serialOption);
    if (parser.isSet(settingsOption)) {
        options->serialSetting =
            SerialCommunicationSetting(parser.value(settingsOption), QSerialPort::NoFlowControl);
        if (options->serialDevice.isEmpty() || !options->serialSetting.isValid() ||
            options->serialSetting.baudRate() <= 0) {
            *message = QStringLiteral("--settings takes a serial setting such as 19200E71 and "
                                      "goes with --serial");
            return OptionsResult::Invalid;
        }
    }
    if (!options->listen && !options->pty && options->serialDevice.isEmpty()) {
        *message = QStringLiteral("nothing to serve on: give --listen, --pty or --serial");
        return OptionsResult::Invalid;
    }
    if (parser.isSet(nodeOption) &&
        !parseNumberOption(parser.value(nodeOption), 1, 31, &options->node)) {
        *message = QStringLiteral("--node takes 1 to 31");
        return OptionsResult::Invalid;
    }
    options->stateFile = parser.value(stateOption);
    if (parser.isSet(controlOption)) {
        if (!parseNumberOption(parser.value(controlOption), 0, 65535, &number)) {
            *message = QStringLiteral("--control takes a port number, 0 to 65535");
            return OptionsResult::Invalid;
        }
        options->control = true;
        options->controlPort = static_cast<quint16>(number);
    }

    struct FaultOption
    {
        const QCommandLineOption &option;
        const char *name;
        bool takesValue;
    };
    const FaultOption faultOptions[] = {
        {noTagOption, "no-tag", false},     {delayOption, "delay", true},
        {splitOption, "split", true},       {ignoreOption, "ignore-every", true},
        {closeOption, "close", false},      {badByteOption, "bad-byte", false},
        {trailingOption, "trailing", true},
    };
    for (const FaultOption &fault : faultOptions) {
        if (parser.isSet(fault.option) &&
            !applyFaultOption(&options->faults, fault.name,
                              fault.takesValue ? parser.value(fault.option) : QString(), message)) {
            return OptionsResult::Invalid;
        }
    }
    return OptionsResult::Run;
}

#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char controlHelp[] = R"(
Control commands, one per line on standard input or on the --control port; each gets one reply
line starting with "ok" or "error":
  fault no-tag on|off|N        no ID tag in the field (tag commands end with error 72);
                               N: for the next N commands, then the tag is there
  fault delay MS               wait MS milliseconds before each response (0: off)
  fault split BYTES PAUSE_MS   send responses in pieces of BYTES with pauses (0 0: off)
  fault ignore-every N         give no answer to every Nth command (0: off)
  fault ignore-next N          give no answer to the next N commands (0: off)
  fault close on|off           close the TCP connection instead of answering
  fault bad-byte on|off        put byte 80 (hex) before the CR of each response
  fault lost-write on|off      answer write commands with 00 but store nothing
  fault trailing HEX|off       send these bytes after each response
  fault repeat N [GAP_MS]      send every Nth response twice, the copy GAP_MS later (0: off)
  fault busy on|off            drop commands that come while a response is still to be sent
  fault delay-next N MS        the next N responses wait MS milliseconds instead of the delay
  fault clear                  all faults off, a pending respond, flood or arrive dropped,
                               a line of passing tags ended
  faults                       reply "ok" and the fault settings
  arrive N PAGE HEX16          after the next N commands, tag page PAGE holds these bytes
  pass PRESENT GAP ID...       tags pass the antenna in this order: each ID in the field for
                               PRESENT commands (0: for good), then none for GAP commands
  pass off                     the line ends, the unit's own tag is in the field again
  passing                      reply "ok" and the passing tag ("tag=ID left=N", "empty left=N",
                               "done" or "off")
  tag ID                       reply "ok" and the content of passing tag ID, in hex
  respond HEX                  answer the next command with exactly these bytes
  flood N                      answer the next command with N bytes "A" and no CR
  send HEX                     send these bytes now to the program
  received                     reply "ok" and the bytes received from the program, in hex
  clear-received               forget the bytes received so far
  set FIELD VALUE              set a state field, in the text form its response carries
  get FIELD                    reply "ok" and the value of a state field
  page N HEX16                 set tag page N (0 to 16, byte address N*8) to 8 bytes
  state                        reply "ok" and all state fields as NAME=VALUE pairs
  quit                         end the simulator
Fields: model firmware mac dip ip-dip mask-dip ip-rom mask-rom memory antenna noise password
last-command history tag. The simulator's page N is the program's page N+1.
Before serving it prints "tcp ADDRESS:PORT", "pty PATH", "link PATH", "serial DEVICE" and
"control ADDRESS:PORT" for what it opened, then "ready". SIGINT, SIGTERM and "quit" end it
with status 0; a transport, control port or state file that cannot be used ends it with
status 1.)";

struct OptionDefinition
{
    const char *name;
    const char *valueName; // nullptr for a switch
    const char *description;
    const char *fault; // the fault it sets at start, in the form of the control command
};

const OptionDefinition optionDefinitions[] = {
    {"listen", "address", "Serve TCP on this IP address.", nullptr},
    {"port", "n", "TCP port (default 7090; 0: any free).", nullptr},
    {"pty", nullptr, "Serve on a new pseudo-terminal.", nullptr},
    {"link", "path", "Place a symbolic link to the pty's slave here.", nullptr},
    {"serial", "device", "Serve on this serial device.", nullptr},
    {"settings", "text", "Serial settings such as 9600, 19200E71, 38400O82H (default 9600).",
     nullptr},
    {"node", "n", "Node number, 1 to 31 (default 1).", nullptr},
    {"state", "file", "Load the state from this file, save it there.", nullptr},
    {"control", "port",
     "Control channel on this TCP port (0: any free) of the --listen address if that is a "
     "loopback address, else of 127.0.0.1.",
     nullptr},
    {"no-tag", nullptr, "Fault: no ID tag in the field.", "no-tag"},
    {"no-tag-for", "n", "Fault: no ID tag in the field for the first N commands.", "no-tag"},
    {"delay", "ms", "Fault: wait before each response.", "delay"},
    {"split", "bytes:pause", "Fault: send responses in pieces with pauses.", "split"},
    {"ignore-every", "n", "Fault: no answer to every Nth command.", "ignore-every"},
    {"ignore-next", "n", "Fault: no answer to the first N commands.", "ignore-next"},
    {"close", nullptr, "Fault: close the connection instead of answering.", "close"},
    {"bad-byte", nullptr, "Fault: a byte outside the frame characters.", "bad-byte"},
    {"lost-write", nullptr, "Fault: writes answer 00 but store nothing.", "lost-write"},
    {"trailing", "hex", "Fault: send these bytes after each response.", "trailing"},
    {"repeat", "n[:gap]", "Fault: send every Nth response twice, the copy GAP ms later.", "repeat"},
    {"busy", nullptr, "Fault: drop commands while a response is still to be sent.", "busy"},
    {"delay-next", "n:ms", "Fault: the first N responses wait MS ms instead of --delay.",
     "delay-next"},
    {"pass", "present,gap,id,...",
     "Tags pass the antenna: each ID in the field for PRESENT commands, then none for GAP.",
     nullptr},
};

// Reads the parsed command line into `options`; a message for a value it refuses.
void readOptions(const QCommandLineParser &parser, SimulatorOptions *options, QString *message)
{
    const auto isSet = [&](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    const auto number = [&](const char *name, int minimum, int maximum, int *result) {
        bool valid = false;
        const int parsed = value(name).toInt(&valid);
        valid = valid && parsed >= minimum && parsed <= maximum;
        *result = valid ? parsed : *result;
        return valid;
    };
    int port = options->port;
    if (isSet("settings")) {
        options->serialSetting =
            SerialCommunicationSetting(value("settings"), QSerialPort::NoFlowControl);
    }
    // Addresses only: the simulator never looks a name up.
    if (isSet("listen") && !options->listenAddress.setAddress(value("listen"))) {
        *message = QStringLiteral("--listen takes an IP address, not %1").arg(value("listen"));
    } else if (isSet("port") &&
               (options->listenAddress.isNull() || !number("port", 0, 65535, &port))) {
        *message = QStringLiteral("--port takes 0 to 65535 and goes with --listen");
    } else if (isSet("link") && (!isSet("pty") || value("link").isEmpty())) {
        *message = QStringLiteral("--link takes a path and goes with --pty");
    } else if (isSet("settings") && (!isSet("serial") || !options->serialSetting.isValid() ||
                                     options->serialSetting.baudRate() <= 0)) {
        *message = QStringLiteral("--settings takes a serial setting such as 19200E71 and goes "
                                  "with --serial");
    } else if (!isSet("listen") && !isSet("pty") && value("serial").isEmpty()) {
        *message = QStringLiteral("nothing to serve on: give --listen, --pty or --serial");
    } else if (isSet("node") && !number("node", 1, 31, &options->node)) {
        *message = QStringLiteral("--node takes 1 to 31");
    } else if (isSet("control") && !number("control", 0, 65535, &options->controlPort)) {
        *message = QStringLiteral("--control takes a port number, 0 to 65535");
    } else if (isSet("pass") && !options->tagLine.start(value("pass").toLatin1().split(','))) {
        *message = QStringLiteral("invalid value for --pass: %1").arg(value("pass"));
    }
    options->port = static_cast<quint16>(port);
    options->pty = isSet("pty");
    options->linkPath = value("link");
    options->serialDevice = value("serial");
    options->stateFile = value("state");
    for (const OptionDefinition &definition : optionDefinitions) {
        QString reason;
        // The fault options take what the control command does, with ':' between values.
        const QList<QByteArray> arguments = definition.valueName != nullptr
                                                ? value(definition.name).toLatin1().split(':')
                                                : QList<QByteArray>{"on"};
        if (message->isEmpty() && definition.fault != nullptr && isSet(definition.name) &&
            !options->faults.apply(definition.fault, arguments, &reason)) {
            *message = QStringLiteral("invalid value for --%1: %2")
                           .arg(QLatin1String(definition.name), value(definition.name));
        }
    }
}

int signalPipe[2] = {-1, -1};

void forwardSignal(int)
{
    const int savedErrno = errno;
    const char byte = 0;
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

int main(int argc, char *argv[])
{
    // A standard descriptor that was closed would be taken by the first file or socket opened,
    // and readiness lines or replies would go into it.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) {
            open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        }
    }
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorsel-sim"));
    // A program or control client that goes away mid-write must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A stand-in Amplifier Unit: answers V640 frames from a program over TCP, "
                       "a pseudo-terminal or a serial device."));
    parser.addHelpOption();
    for (const OptionDefinition &definition : optionDefinitions) {
        parser.addOption(QCommandLineOption(
            QLatin1String(definition.name), QLatin1String(definition.description),
            definition.valueName != nullptr ? QLatin1String(definition.valueName) : QString()));
    }
    SimulatorOptions options;
    QString message;
    if (!parser.parse(QCoreApplication::arguments())) {
        message = parser.errorText();
    } else if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s%s\n", qPrintable(parser.helpText()), controlHelp);
        return 0;
    } else if (!parser.positionalArguments().isEmpty()) {
        message = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]);
    } else {
        readOptions(parser, &options, &message);
    }
    if (!message.isEmpty()) {
        std::fprintf(stderr, "vorsel-sim: %s\nTry vorsel-sim --help.\n", qPrintable(message));
        return 1;
    }

    // SIGINT, SIGTERM and SIGHUP end the event loop through a pipe: the handler only writes
    // a byte into it, everything else runs on the event loop.
    if (pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("vorsel-sim: cannot create a pipe");
        return 1;
    }
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &application,
                     &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signalNumber, &action, nullptr);
    }

    Simulator simulator(options);
    if (!simulator.start(&message)) {
        std::fprintf(stderr, "vorsel-sim: %s\n", qPrintable(message));
        return 1;
    }
    return QCoreApplication::exec();
}

#include "signalwatcher.h"
#include "simulator.h"
#include "simulatoroptions.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vorsel-sim"));
    // A program or control client that goes away mid-write must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);

    SimulatorOptions options;
    QString message;
    switch (parseOptions(QCoreApplication::arguments(), &options, &message)) {
    case OptionsResult::ShowedHelp:
        return 0;
    case OptionsResult::Invalid:
        std::fprintf(stderr, "vorsel-sim: %s\nTry vorsel-sim --help.\n", qPrintable(message));
        return 1;
    case OptionsResult::Run:
        break;
    }

    SignalWatcher signalWatcher;
    if (!signalWatcher.watch({SIGINT, SIGTERM, SIGHUP}, &message)) {
        std::fprintf(stderr, "vorsel-sim: %s\n", qPrintable(message));
        return 1;
    }
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, &application,
                     &QCoreApplication::quit);

    Simulator simulator(options);
    if (!simulator.start(&message)) {
        std::fprintf(stderr, "vorsel-sim: %s\n", qPrintable(message));
        return 1;
    }
    return QCoreApplication::exec();
}

#ifndef VORSEL_SIM_SIMULATOROPTIONS_H
#define VORSEL_SIM_SIMULATOROPTIONS_H

#include "faultsettings.h"
#include "serialcommunicationsetting.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

struct SimulatorOptions
{
    static constexpr quint16 unitPort = 7090;

    bool listen = false;
    QHostAddress listenAddress;
    quint16 port = unitPort;
    bool pty = false;
    QString linkPath;
    QString serialDevice;
    SerialCommunicationSetting serialSetting;
    int node = 1;
    QString stateFile;
    bool control = false;
    quint16 controlPort = 0;
    FaultSettings faults;
};

enum class OptionsResult { Run, ShowedHelp, Invalid };

// Reads the command line. For Invalid, `message` tells why; for ShowedHelp the help text has
// been written to standard output.
OptionsResult parseOptions(const QStringList &arguments, SimulatorOptions *options,
                           QString *message);

#endif

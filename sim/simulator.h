#ifndef VORSEL_SIM_SIMULATOR_H
#define VORSEL_SIM_SIMULATOR_H

#include "control.h"
#include "links.h"
#include "serialcommunicationsetting.h"
#include "unit.h"

#include <QHostAddress>
#include <QObject>

#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

struct SimulatorOptions
{
    QHostAddress listenAddress; // null: no TCP
    quint16 port = 7090;
    bool pty = false;
    QString linkPath;
    QString serialDevice;
    SerialCommunicationSetting serialSetting;
    int node = 1;
    QString stateFile;
    int controlPort = -1; // -1: no control port
    Faults faults;
    TagLine tagLine;
};

// The stand-in Amplifier Unit behind every transport it serves on: answers frames with the
// faults switched on, keeps the state file, and carries out the control commands that tests
// use to steer it.
class Simulator : public QObject
{
    Q_OBJECT
public:
    explicit Simulator(const SimulatorOptions &options);
    ~Simulator() override;

    // Loads the state, opens every transport and prints what it serves on, then "ready".
    bool start(QString *error);
    // The reply to one control line: "ok", "ok VALUE" or "error REASON".
    QByteArray execute(const QByteArray &line);

private:
    void answerFrame(ProgramLink *link, const QByteArray &frame);
    void recordReceived(const QByteArray &bytes);
    bool openState(QString *error);
    bool saveState(QString *error);
    void stateChanged();

    SimulatorOptions options;
    Faults faults;
    Unit unit;
    LineOutput output{STDOUT_FILENO};
    LineOutput notices{STDERR_FILENO};
    // Locks the state file for as long as this simulator runs.
    int stateLock = -1;
    int commandsSinceIgnored = 0;
    int answersSinceRepeated = 0;
    // The next answered command gets this job instead of its response ("respond", "flood").
    std::optional<OutputJob> pendingOverride;
    // Tag pages that change after a number of answered commands ("arrive").
    struct Arrival
    {
        int commandsLeft;
        QByteArray page;
        QByteArray hex;
    };
    QList<Arrival> arrivals;
    QByteArray received;
    std::vector<std::unique_ptr<ProgramLink>> links;
    Control control;
};

#endif

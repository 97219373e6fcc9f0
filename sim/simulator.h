#ifndef VORSEL_SIM_SIMULATOR_H
#define VORSEL_SIM_SIMULATOR_H

#include "controlchannel.h"
#include "controlinterpreter.h"
#include "faultsettings.h"
#include "programlink.h"
#include "simulatoroptions.h"
#include "unit.h"
#include "unitstate.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

// The stand-in Amplifier Unit: its state and command processing behind every transport it
// serves on, with the faults and the control channel that tests use to steer it.
class Simulator : public QObject
{
    Q_OBJECT
public:
    explicit Simulator(const SimulatorOptions &options, QObject *parent = nullptr);
    ~Simulator() override;

    // Loads the state, opens every transport and prints what it serves on, then "ready".
    bool start(QString *error);

    // For the control channel.
    FaultSettings &faults() { return faultSettings; }
    void faultsChanged();
    UnitState &state() { return unitState; }
    void stateChanged();
    // The next answered command gets this job's bytes instead of its response.
    void overrideNextResponse(const OutputJob &job) { pendingOverride = job; }
    void dropOverride() { pendingOverride.reset(); }
    // Sends the bytes to every link with a program on it; the number of links.
    int sendUnsolicited(const QByteArray &bytes);
    QByteArray receivedBytes() const;
    void clearReceived() { received.clear(); }
    QByteArray lineSettings(bool now) const;
    void quit();

private:
    void answerFrame(ProgramLink *link, const QByteArray &frame);
    void recordReceived(const QByteArray &bytes);
    bool loadState(QString *error);
    bool saveState(QString *error);

    SimulatorOptions options;
    UnitState unitState;
    Unit unit;
    FaultSettings faultSettings;
    int commandsSinceIgnored = 0;
    std::optional<OutputJob> pendingOverride;
    QByteArray received;
    ControlInterpreter interpreter;
    std::vector<std::unique_ptr<ProgramLink>> links;
    std::unique_ptr<TcpControl> tcpControl;
    std::unique_ptr<StandardInputControl> standardInputControl;
};

#endif

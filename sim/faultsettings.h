#ifndef VORSEL_SIM_FAULTSETTINGS_H
#define VORSEL_SIM_FAULTSETTINGS_H

#include <QByteArray>
#include <QList>
#include <QString>

// The faults that the simulator injects into its answers; all off by default.
struct FaultSettings
{
    static constexpr qint64 longestDelayMs = 3600000;
    static constexpr qint64 largestPiece = 65536;

    bool noTag = false;
    int delayMs = 0;
    int splitBytes = 0;
    int splitPauseMs = 0;
    int ignoreEvery = 0;
    bool closeConnection = false;
    bool badByte = false;
    QByteArray trailing;

    // Applies "NAME ARGUMENTS" as the control command "fault" takes it; false with a reason for
    // a name or arguments it does not know.
    bool apply(const QByteArray &name, const QList<QByteArray> &arguments, QString *error);

    // One line of NAME=VALUE pairs, in the form the control command "fault" takes them.
    QByteArray summary() const;
};

#endif

#ifndef VORSEL_TESTS_SUPPORT_SIMULATORPROCESS_H
#define VORSEL_TESTS_SUPPORT_SIMULATORPROCESS_H

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

// Only against hangs; a working simulator never nears it.
constexpr int simulatorBoundMs = 20000;

// A loopback address "127.B.C.N" for the N a test owns: the block B.C is this process's own, so
// that runs of other build trees beside it never answer its connections (the unit's port is
// fixed). All of 127.0.0.0/8 is loopback.
QString ownLoopbackAddress(int lastOctet);

// The most memory the process held resident, in kibibytes (-1 if unknown); with `restart`, the
// peak starts again from what it holds now (where the system allows it).
qint64 peakResidentKib(qint64 processId, bool restart = false);

// The built vorsel-sim as a child process, steered through control lines on its standard input.
class SimulatorProcess
{
public:
    ~SimulatorProcess();
    // Starts it and waits for "ready"; the readiness lines before it are kept by first word. A
    // wrapper is a shell command that runs first, as root of private user, mount and network
    // namespaces.
    bool start(const QStringList &arguments, const QString &wrapper = QString());
    // A readiness line's value: "pty" gives the pty's path, "tcp" "ADDRESS:PORT".
    QByteArray readiness(const QByteArray &word) const { return ready.value(word); }
    // One control line, and the reply to it.
    QByteArray control(const QByteArray &line);
    // Ends it with "quit": true when it ended with 0 and wrote nothing on standard error.
    bool quit();
    QProcess process;

private:
    QByteArray readLine();
    QMap<QByteArray, QByteArray> ready;
};

#endif

#ifndef VORSEL_DIAGNOSTICS_H
#define VORSEL_DIAGNOSTICS_H

#include <QString>

class QAbstractSocket;
class QSerialPort;

// --verbose: the settings a run works with, and one line per failure naming its cause, on
// standard error, each prefixed "vorsel: ". Without it standard error stays silent.
class Diagnostics
{
public:
    void setEnabled(bool on) { enabled = on; }
    void say(const QString &text) const;

    // Causes, in words that point at the fix.
    static QString serialPortFailure(const QSerialPort &port, const QString &name);
    static QString socketFailure(const QAbstractSocket &socket, const QString &link, int timeoutMs);
    static QString lineRefusal(const QString &line);

private:
    bool enabled = false;
};

#endif

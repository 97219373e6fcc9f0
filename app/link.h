#ifndef VORSEL_LINK_H
#define VORSEL_LINK_H

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include "serialcommunicationsetting.h"

class QIODevice;

// The line to the unit, a serial port or a TCP connection, behind one interface: whoever sends
// and receives never asks which it has. It reports a failure only once it is open (an opening
// that fails says why through its result).
class Link : public QObject
{
    Q_OBJECT

public:
    // The device the bytes go through: a QSerialPort or a QTcpSocket, whose readyRead tells that
    // bytes have come.
    virtual QIODevice *device() const = 0;
    // A serial line carries node numbers, and stays the same line when it is opened again, so an
    // answer owed to a frame sent before may still come. A TCP connection is new each time.
    virtual bool isSerialLine() const = 0;
    // Why the link failed, in words that point at the fix.
    virtual QString failureReason() const = 0;

    // Writes the frame and hands it to the system at once; false when the link took less.
    virtual bool send(const char *data, int size) = 0;
    // What has arrived, up to `maximum` bytes; 0 when nothing has, -1 when the link broke
    // (failureReason tells why).
    virtual qint64 receive(char *data, qint64 maximum) = 0;
    // Closes it at once; the object may go later.
    virtual void close() = 0;
    // Throws away everything that is waiting, what the system holds for the link included, and
    // returns up to `sample` bytes of it.
    virtual QByteArray discardPending(int sample) = 0;

signals:
    // Once open: the link broke (the code says little for a serial port; failureReason tells).
    void failed(QAbstractSocket::SocketError error);
};

// Opens the links an exchange goes over: the program's opens its target, tests script their own.
class LinkOpener
{
public:
    virtual ~LinkOpener() = default;
    // A new open link, or null with the reason; `refused` tells whether the system reported a
    // failure (refused, no such host, a port that does not open) rather than mere silence.
    virtual Link *open(QString *reason, bool *refused) = 0;
};

// Where the unit is and how to reach it: a name that stands for a file is a serial port and
// nothing else, any other name a TCP host on the unit's port.
class LinkTarget : public LinkOpener
{
public:
    static const quint16 unitPort = 7090;

    LinkTarget() = default;
    LinkTarget(const QString &name, const SerialCommunicationSetting &setting, int timeoutMs);

    bool isSerialPort() const;
    Link *open(QString *reason, bool *refused) override;
    // How the link is named in causes and the trace: "host:port", or "port node N".
    QString linkName(int node) const;
    // The settings in words, for --verbose.
    QString settingsText(int node) const;

private:
    QString name;
    SerialCommunicationSetting setting;
    int timeoutMs = 0;
};

#endif

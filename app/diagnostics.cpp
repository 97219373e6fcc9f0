#include "diagnostics.h"

#include <QSerialPort>
#include <QTcpSocket>

#include <cstdio>

#include "v640.h"

namespace {

const int longestMessage = V640_MAX_FRAME_SIZE - 6;

} // namespace

void Diagnostics::say(const QString &text) const
{
    if (enabled) {
        fprintf(stderr, "vorsel: %s\n", text.toLocal8Bit().constData());
        fflush(stderr);
    }
}

QString Diagnostics::serialPortFailure(const QSerialPort &port, const QString &name)
{
    const QString reason = port.errorString();
    QString fix;
    if (reason.contains(QLatin1String("lock"), Qt::CaseInsensitive) ||
        reason.contains(QLatin1String("busy"), Qt::CaseInsensitive)) {
        fix = QStringLiteral(" (another program holds it)");
    } else if (port.error() == QSerialPort::PermissionError) {
        fix = QStringLiteral(" (the user needs to be in the group dialout)");
    } else if (port.error() == QSerialPort::UnsupportedOperationError) {
        fix = QStringLiteral(" (it does not take these line settings)");
    } else if (port.error() == QSerialPort::ResourceError) {
        fix = QStringLiteral(" (adapter unplugged, or the far end gone)");
    }
    return QStringLiteral("serial port %1: %2%3").arg(name, reason, fix);
}

QString Diagnostics::socketFailure(const QAbstractSocket &socket, const QString &link,
                                   int timeoutMs)
{
    const QString &where = link;
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection to %1 refused (no unit there, or it serves another "
                              "program)")
            .arg(where);
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host name %1 does not resolve").arg(socket.peerName());
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("no connection to %1 within %2 ms").arg(where).arg(timeoutMs);
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the unit at %1 closed the connection").arg(where);
    default:
        return QStringLiteral("connection to %1: %2").arg(where, socket.errorString());
    }
}

QString Diagnostics::lineRefusal(const QString &line)
{
    if (line.isEmpty()) {
        return QStringLiteral("empty line");
    }
    // Of a long line only the start is kept: its length is not known.
    if (line.size() > longestMessage) {
        return QStringLiteral("line longer than %1 characters, the most a frame can carry")
            .arg(longestMessage);
    }
    for (const QChar character : line) {
        if ((character.unicode() < 0x20 && character.unicode() != 0x01) ||
            character.unicode() > 0x7E) {
            return QStringLiteral("line holds U+%1, which no frame may carry")
                .arg(character.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return QStringLiteral("line is no message a frame can carry");
}

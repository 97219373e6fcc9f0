#include "control.h"

#include "unit.h"

#include <QTcpSocket>

#include <cerrno>
#include <unistd.h>

namespace {

// Room for "respond" or "send" with a few megabytes of hex.
constexpr int longestLine = 16 * 1024 * 1024;
// A control client that leaves more replies than this unread is disconnected; one reply of the
// largest size ("received") fits beside it.
constexpr qint64 mostUnreadReplyBytes = 4 * 1024 * 1024;
constexpr int mostControlClients = 16;
constexpr qint64 longestDelayMs = 3600000;
constexpr qint64 largestPiece = 65536;

bool parseSwitch(const QList<QByteArray> &arguments, bool *value)
{
    if (arguments.size() != 1 || (arguments.at(0) != "on" && arguments.at(0) != "off")) {
        return false;
    }
    *value = arguments.at(0) == "on";
    return true;
}

bool parseNumber(const QList<QByteArray> &arguments, int index, qint64 maximum, int *value)
{
    qint64 number = 0;
    if (!parseCount(arguments.value(index), maximum, &number)) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

QByteArray switchText(bool value)
{
    return value ? "on" : "off";
}

} // namespace

bool parseCount(const QByteArray &text, qint64 maximum, qint64 *value)
{
    if (text.size() > 18 || !isDecimal(text) || text.toLongLong() > maximum) {
        return false;
    }
    *value = text.toLongLong();
    return true;
}

bool Faults::apply(const QByteArray &name, const QList<QByteArray> &arguments, QString *error)
{
    const int count = arguments.size();
    bool valid = false;
    bool on = false;
    if (name == "no-tag" && parseSwitch(arguments, &on)) {
        noTag = on ? -1 : 0;
        valid = true;
    } else if (name == "no-tag" || name == "ignore-next") {
        valid = count == 1 && parseNumber(arguments, 0, Faults::mostCommands,
                                          name == "no-tag" ? &noTag : &ignoreNext);
    } else if (name == "lost-write") {
        valid = parseSwitch(arguments, &lostWrite);
    } else if (name == "close") {
        valid = parseSwitch(arguments, &closeConnection);
    } else if (name == "bad-byte") {
        valid = parseSwitch(arguments, &badByte);
    } else if (name == "busy") {
        valid = parseSwitch(arguments, &busy);
    } else if (name == "delay") {
        valid = count == 1 && parseNumber(arguments, 0, longestDelayMs, &delayMs);
    } else if (name == "ignore-every") {
        valid = count == 1 && parseNumber(arguments, 0, Faults::mostCommands, &ignoreEvery);
    } else if (name == "split") {
        int bytes = 0;
        int pause = 0;
        valid = count == 2 && parseNumber(arguments, 0, largestPiece, &bytes) &&
                parseNumber(arguments, 1, longestDelayMs, &pause);
        if (valid) {
            splitBytes = bytes;
            splitPauseMs = bytes == 0 ? 0 : pause;
        }
    } else if (name == "repeat") {
        int every = 0;
        int gap = 0;
        valid = (count == 1 || count == 2) &&
                parseNumber(arguments, 0, Faults::mostCommands, &every) &&
                (count == 1 || parseNumber(arguments, 1, longestDelayMs, &gap));
        if (valid) {
            repeatEvery = every;
            repeatGapMs = every == 0 ? 0 : gap;
        }
    } else if (name == "delay-next") {
        int answers = 0;
        int wait = 0;
        valid = count == 2 && parseNumber(arguments, 0, Faults::mostCommands, &answers) &&
                parseNumber(arguments, 1, longestDelayMs, &wait);
        if (valid) {
            delayNextCount = answers;
            delayNextMs = answers == 0 ? 0 : wait;
        }
    } else if (name == "trailing") {
        QByteArray bytes;
        valid = count == 1 && (arguments.at(0) == "off" || decodeHex(arguments.at(0), &bytes));
        if (valid) {
            trailing = bytes;
        }
    } else if (name == "clear") {
        valid = count == 0;
        if (valid) {
            *this = Faults();
        }
    } else {
        *error = QStringLiteral("unknown fault %1").arg(QString::fromLatin1(escaped(name)));
        return false;
    }
    if (!valid) {
        *error = QStringLiteral("bad arguments for fault %1").arg(QString::fromLatin1(name));
    }
    return valid;
}

QByteArray Faults::summary() const
{
    return "no-tag=" + (noTag > 0 ? QByteArray::number(noTag) : switchText(noTag < 0)) +
           " delay=" + QByteArray::number(delayMs) + " split=" + QByteArray::number(splitBytes) +
           ',' + QByteArray::number(splitPauseMs) +
           " ignore-every=" + QByteArray::number(ignoreEvery) +
           " ignore-next=" + QByteArray::number(ignoreNext) +
           " close=" + switchText(closeConnection) + " bad-byte=" + switchText(badByte) +
           " lost-write=" + switchText(lostWrite) +
           " trailing=" + (trailing.isEmpty() ? QByteArray("off") : encodeHex(trailing)) +
           " repeat=" + QByteArray::number(repeatEvery) + ',' + QByteArray::number(repeatGapMs) +
           " busy=" + switchText(busy) + " delay-next=" + QByteArray::number(delayNextCount) + ',' +
           QByteArray::number(delayNextMs);
}

QList<QByteArray> ControlLineReader::append(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    int position = 0;
    while (position < bytes.size()) {
        const int lineFeed = bytes.indexOf('\n', position);
        const int end = lineFeed < 0 ? bytes.size() : lineFeed;
        if (!overlong) {
            const int room = longestLine + 1 - pending.size();
            pending.append(bytes.constData() + position, qMin(end - position, room));
            if (pending.size() > longestLine) {
                pending.clear();
                overlong = true;
            }
        }
        position = lineFeed < 0 ? bytes.size() : lineFeed + 1;
        if (lineFeed < 0) {
            break;
        }
        if (pending.endsWith('\r')) {
            pending.chop(1);
        }
        // Never null for a line that fitted, so that it cannot be taken for an overlong one.
        lines.append(overlong ? QByteArray() : pending.isNull() ? QByteArray("") : pending);
        overlong = false;
        pending.clear();
    }
    return lines;
}

Control::Control(Handler handler, LineOutput *output, LineOutput *notices)
    : handler(std::move(handler)), output(output), notices(notices)
{
    connect(&server, &QTcpServer::newConnection, this, &Control::acceptClients);
}

QByteArray Control::reply(const QByteArray &line)
{
    return line.isNull() ? QByteArray("error line too long") : handler(line);
}

void Control::readStandardInput()
{
    inputNotifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(inputNotifier.get(), &QSocketNotifier::activated, this, &Control::readInput);
}

void Control::readInput()
{
    char buffer[65536];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        inputNotifier->setEnabled(false);
        return;
    }
    for (const QByteArray &line : inputReader.append(QByteArray(buffer, static_cast<int>(count)))) {
        output->write(reply(line));
    }
}

bool Control::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (!server.listen(address, port)) {
        *error = QStringLiteral("cannot listen for control on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(server.errorString());
        return false;
    }
    return true;
}

QByteArray Control::readinessLine() const
{
    return "control " + server.serverAddress().toString().toLatin1() + ':' +
           QByteArray::number(server.serverPort());
}

void Control::acceptClients()
{
    while (QTcpSocket *client = server.nextPendingConnection()) {
        // Each may hold a long line and unread replies, so their number is bounded too.
        if (server.findChildren<QTcpSocket *>().size() > mostControlClients) {
            notices->write("vorsel-sim: more than " + QByteArray::number(mostControlClients) +
                           " control clients at once: another one refused");
            client->abort();
            client->deleteLater();
            continue;
        }
        auto reader = std::make_shared<ControlLineReader>();
        connect(client, &QTcpSocket::readyRead, client, [this, client, reader]() {
            for (const QByteArray &line : reader->append(client->readAll())) {
                if (client->state() != QAbstractSocket::ConnectedState) {
                    return;
                }
                if (client->bytesToWrite() > mostUnreadReplyBytes) {
                    client->flush();
                }
                if (client->bytesToWrite() > mostUnreadReplyBytes) {
                    notices->write("vorsel-sim: the control client " +
                                   client->peerAddress().toString().toLatin1() + ':' +
                                   QByteArray::number(client->peerPort()) + " left more than " +
                                   QByteArray::number(mostUnreadReplyBytes) +
                                   " bytes of replies unread: disconnected");
                    client->abort();
                    return;
                }
                client->write(reply(line) + '\n');
            }
            client->flush();
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}

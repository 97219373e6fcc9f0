#include "controlchannel.h"

#include "standardoutput.h"

#include <QTcpSocket>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace {

// Room for "respond" or "send" with a few megabytes of hex.
constexpr int longestLine = 16 * 1024 * 1024;

} // namespace

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
        if (overlong) {
            lines.append(QByteArray());
            overlong = false;
            continue;
        }
        if (pending.endsWith('\r')) {
            pending.chop(1);
        }
        // Never null, so that it cannot be taken for an overlong line.
        lines.append(pending.isNull() ? QByteArray("") : pending);
        pending.clear();
    }
    return lines;
}

QByteArray replyFor(const ControlHandler &handler, const QByteArray &line)
{
    if (line.isNull()) {
        return "error line too long";
    }
    return handler(line);
}

StandardInputControl::StandardInputControl(ControlHandler handler, QObject *parent)
    : QObject(parent), handler(std::move(handler))
{
}

void StandardInputControl::start()
{
    // Started with standard input closed: there is nothing to listen to.
    if (fcntl(STDIN_FILENO, F_GETFD) < 0) {
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StandardInputControl::readInput);
}

void StandardInputControl::readInput()
{
    char buffer[65536];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
    }
    if (count <= 0) {
        notifier->setEnabled(false);
        return;
    }
    const QList<QByteArray> lines = reader.append(QByteArray(buffer, static_cast<int>(count)));
    for (const QByteArray &line : lines) {
        StandardOutput::writeLine(replyFor(handler, line));
    }
}

TcpControl::TcpControl(const QHostAddress &address, quint16 port, ControlHandler handler,
                       QObject *parent)
    : QObject(parent), address(address), port(port), handler(std::move(handler))
{
    connect(&server, &QTcpServer::newConnection, this, &TcpControl::acceptClients);
}

bool TcpControl::open(QString *error)
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

QByteArray TcpControl::readinessLine() const
{
    return "control " + server.serverAddress().toString().toLatin1() + ':' +
           QByteArray::number(server.serverPort());
}

void TcpControl::acceptClients()
{
    while (QTcpSocket *client = server.nextPendingConnection()) {
        client->setParent(this);
        auto reader = std::make_shared<ControlLineReader>();
        connect(client, &QTcpSocket::readyRead, client, [this, client, reader]() {
            const QList<QByteArray> lines = reader->append(client->readAll());
            for (const QByteArray &line : lines) {
                client->write(replyFor(handler, line) + '\n');
            }
            client->flush();
        });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
    }
}

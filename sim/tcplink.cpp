#include "tcplink.h"

namespace {

// Bytes handed to a socket but not yet sent; beyond this, output waits for the peer.
constexpr qint64 mostUnsentBytes = 1024 * 1024;

} // namespace

TcpLink::TcpLink(const QHostAddress &address, quint16 port, QObject *parent)
    : ProgramLink(parent), address(address), port(port)
{
    connect(&server, &QTcpServer::newConnection, this, &TcpLink::takeNextClient);
}

// The server deletes its sockets when it goes; the client must not report its end to a link
// that is already half destroyed.
TcpLink::~TcpLink()
{
    if (client != nullptr) {
        client->disconnect(this);
        delete client;
    }
}

bool TcpLink::open(QString *error)
{
    if (!server.listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(server.errorString());
        return false;
    }
    return true;
}

QList<QByteArray> TcpLink::readinessLines() const
{
    return {"tcp " + server.serverAddress().toString().toLatin1() + ':' +
            QByteArray::number(server.serverPort())};
}

bool TcpLink::hasPeer() const
{
    return client != nullptr && client->state() == QAbstractSocket::ConnectedState;
}

void TcpLink::takeNextClient()
{
    if (client != nullptr) {
        return;
    }
    client = server.nextPendingConnection();
    if (client == nullptr) {
        return;
    }
    connect(client, &QTcpSocket::readyRead, this, &TcpLink::readClient);
    connect(client, &QTcpSocket::disconnected, this, &TcpLink::clientGone);
    connect(client, &QTcpSocket::bytesWritten, this, &TcpLink::resumeOutput);
    // It may have sent its first frame while it waited for its turn.
    readClient();
    if (client != nullptr && client->state() != QAbstractSocket::ConnectedState) {
        clientGone();
    }
}

void TcpLink::readClient()
{
    if (client != nullptr) {
        receive(client->readAll());
    }
}

void TcpLink::clientGone()
{
    if (client == nullptr) {
        return;
    }
    QTcpSocket *gone = client;
    client = nullptr;
    gone->disconnect(this);
    gone->deleteLater();
    resetConnection();
    // From the event loop: this may run inside the answer to the last client's frame.
    QMetaObject::invokeMethod(this, &TcpLink::takeNextClient, Qt::QueuedConnection);
}

qint64 TcpLink::writeNow(const char *data, qint64 size)
{
    if (!hasPeer()) {
        return -1;
    }
    if (client->bytesToWrite() > mostUnsentBytes) {
        return 0;
    }
    return client->write(data, size);
}

void TcpLink::closeConnection()
{
    if (client != nullptr) {
        client->disconnectFromHost();
    }
}

#include "boundedtcpserver.h"

#include <QTcpSocket>

namespace {

constexpr qint64 readBufferBytes = 64 * 1024;

} // namespace

void BoundedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setReadBufferSize(readBufferBytes);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

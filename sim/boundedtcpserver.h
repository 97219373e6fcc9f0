#ifndef VORSEL_SIM_BOUNDEDTCPSERVER_H
#define VORSEL_SIM_BOUNDEDTCPSERVER_H

#include <QTcpServer>

// A TCP server whose sockets buffer at most a fixed number of received bytes, from the moment
// they are accepted: a peer that sends without end, or a client still waiting for its turn, then
// waits in the system's socket buffers instead of filling the simulator's memory.
class BoundedTcpServer : public QTcpServer
{
public:
    explicit BoundedTcpServer(QObject *parent = nullptr) : QTcpServer(parent) {}

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

#endif

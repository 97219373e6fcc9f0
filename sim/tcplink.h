#ifndef VORSEL_SIM_TCPLINK_H
#define VORSEL_SIM_TCPLINK_H

#include "boundedtcpserver.h"
#include "programlink.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

// A TCP port that serves its clients one after another, as the unit does: a client that
// connects while another is served waits until that one has gone.
class TcpLink : public ProgramLink
{
    Q_OBJECT
public:
    TcpLink(const QHostAddress &address, quint16 port, QObject *parent = nullptr);
    ~TcpLink() override;

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override;

protected:
    qint64 writeNow(const char *data, qint64 size) override;
    void closeConnection() override;

private slots:
    void takeNextClient();
    void readClient();
    void clientGone();

private:
    QHostAddress address;
    quint16 port;
    BoundedTcpServer server;
    QPointer<QTcpSocket> client;
};

#endif

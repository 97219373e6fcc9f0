#include "link.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "diagnostics.h"

namespace {

// Qt reads what the system holds for a link into a buffer of its own; bounded, so that an
// endless stream costs no more than this.
const qint64 readBufferSize = 64 * 1024;

// Bounds the discarding of stale input, so that a peer that never stops sending cannot keep it
// going for ever.
const qint64 discardLimit = 64 * 1024 * 1024;

// The file a serial port name stands for, as the serial port resolves it.
QString serialDeviceLocation(const QString &name)
{
    const bool isPath = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                        name.startsWith(QLatin1String("../"));
    return isPath ? name : QLatin1String("/dev/") + name;
}

QString parityName(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return QStringLiteral("even parity");
    case QSerialPort::OddParity:
        return QStringLiteral("odd parity");
    default:
        return QStringLiteral("no parity");
    }
}

QString flowControlName(QSerialPort::FlowControl flowControl)
{
    switch (flowControl) {
    case QSerialPort::HardwareControl:
        return QStringLiteral("hardware flow control");
    case QSerialPort::SoftwareControl:
        return QStringLiteral("software flow control");
    default:
        return QStringLiteral("no flow control");
    }
}

// What serial ports and sockets share: bytes through a QIODevice, and a system descriptor
// beneath it for what Qt has not read yet.
class DeviceLink : public Link
{
public:
    ~DeviceLink() override { delete io; }

    QIODevice *device() const override { return io; }

    bool send(const char *data, int size) override
    {
        // Straight to the system when nothing waits in the device's own buffer: a frame fits the
        // system's buffer at once, and going through the device's costs more than the exchange.
        qint64 written = 0;
        if (io->bytesToWrite() == 0) {
            ssize_t count;
            do {
                count = ::write(descriptor(), data, size_t(size));
            } while (count < 0 && errno == EINTR);
            written = qMax<qint64>(count, 0);
            if (written == size) {
                return true;
            }
            if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
        }
        if (io->write(data + written, size - written) != size - written) {
            return false;
        }
        // Handed to the system now rather than on the event loop's next pass.
        flush();
        return true;
    }

    qint64 receive(char *data, qint64 maximum) override { return io->read(data, maximum); }

    void close() override { io->close(); }

    QByteArray discardPending(int sample) override
    {
        QByteArray stale = io->bytesAvailable() > 0 ? io->readAll() : QByteArray();
        // Bytes the system holds for the link are pending too: they may have been queued before
        // this program started.
        const int fd = descriptor();
        char chunk[4096];
        qint64 discarded = 0;
        pollfd readable = {fd, POLLIN, 0};
        while (fd >= 0 && discarded < discardLimit && poll(&readable, 1, 0) > 0 &&
               (readable.revents & POLLIN) != 0) {
            const ssize_t count = ::read(fd, chunk, sizeof chunk);
            if (count <= 0) {
                break;
            }
            if (stale.size() < sample) {
                stale.append(chunk, static_cast<int>(count));
            }
            discarded += count;
        }
        return stale.left(sample);
    }

protected:
    explicit DeviceLink(QIODevice *io) : io(io) {}

    virtual int descriptor() const = 0;
    virtual void flush() = 0;

    QIODevice *io;
};

class SerialLink : public DeviceLink
{
public:
    SerialLink(QSerialPort *port, const QString &name) : DeviceLink(port), port(port), name(name)
    {
        // Connected only once open: failures while opening are told by the result. A hang-up (an
        // adapter unplugged, the peer gone) would otherwise wake the event loop for ever.
        connect(port, &QSerialPort::errorOccurred, this,
                [this](QSerialPort::SerialPortError error) {
                    if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError) {
                        emit failed(QAbstractSocket::UnknownSocketError);
                    }
                });
    }

    bool isSerialLine() const override { return true; }
    QString failureReason() const override { return Diagnostics::serialPortFailure(*port, name); }

protected:
    int descriptor() const override { return port->handle(); }
    void flush() override { port->flush(); }

private:
    QSerialPort *port;
    QString name;
};

class TcpLink : public DeviceLink
{
public:
    TcpLink(QTcpSocket *socket, const QString &name, int timeoutMs)
        : DeviceLink(socket), socket(socket), name(name), timeoutMs(timeoutMs)
    {
        connect(socket, &QAbstractSocket::errorOccurred, this, &Link::failed);
    }

    bool isSerialLine() const override { return false; }
    QString failureReason() const override
    {
        return Diagnostics::socketFailure(*socket, name, timeoutMs);
    }

protected:
    int descriptor() const override { return static_cast<int>(socket->socketDescriptor()); }
    void flush() override { socket->flush(); }

private:
    QTcpSocket *socket;
    QString name;
    int timeoutMs;
};

} // namespace

LinkTarget::LinkTarget(const QString &name, const SerialCommunicationSetting &setting,
                       int timeoutMs)
    : name(name), setting(setting), timeoutMs(timeoutMs)
{
}

bool LinkTarget::isSerialPort() const
{
    return QFileInfo::exists(serialDeviceLocation(name));
}

Link *LinkTarget::open(QString *reason, bool *refused)
{
    *refused = true;
    // A name that stands for a file is a serial port and nothing else: looking it up as a host
    // would only hide why the port did not open. Host names go straight to TCP, without the lock
    // file that opening a serial port takes.
    if (isSerialPort()) {
        auto *port = new QSerialPort;
        port->setPortName(name);
        port->setBaudRate(setting.baudRate());
        port->setParity(setting.parity());
        port->setDataBits(setting.dataBits());
        port->setStopBits(setting.stopBits());
        port->setFlowControl(setting.flowControl());
        port->setReadBufferSize(readBufferSize);
        if (!port->open(QIODevice::ReadWrite)) {
            *reason = Diagnostics::serialPortFailure(*port, name);
            delete port;
            return nullptr;
        }
        return new SerialLink(port, name);
    }

    // Unbuffered: what arrives is read straight from the system when the socket is readable,
    // without the socket's own buffer and the system call that sizes it for every answer.
    auto *socket = new QTcpSocket;
    socket->connectToHost(name, unitPort, QIODevice::ReadWrite | QIODevice::Unbuffered,
                          QAbstractSocket::AnyIPProtocol);
    if (!socket->waitForConnected(timeoutMs)) {
        *refused = socket->error() != QAbstractSocket::SocketTimeoutError;
        *reason = Diagnostics::socketFailure(*socket, linkName(0), timeoutMs);
        delete socket;
        return nullptr;
    }
    return new TcpLink(socket, linkName(0), timeoutMs);
}

QString LinkTarget::linkName(int node) const
{
    if (!isSerialPort()) {
        return QStringLiteral("%1:%2").arg(name).arg(unitPort);
    }
    return node == 0 ? name : QStringLiteral("%1 node %2").arg(name).arg(node);
}

QString LinkTarget::settingsText(int node) const
{
    if (!isSerialPort()) {
        return QStringLiteral("target %1 over TCP (frames without node number), time-out %2 ms")
            .arg(linkName(0))
            .arg(timeoutMs);
    }
    return QStringLiteral("target %1, serial port at %2 baud, %3 data bits, %4, %5 stop bit(s), "
                          "%6, node %7, time-out %8 ms")
        .arg(name)
        .arg(setting.baudRate())
        .arg(setting.dataBits())
        .arg(parityName(setting.parity()))
        .arg(setting.stopBits())
        .arg(flowControlName(setting.flowControl()))
        .arg(node == 0 ? QStringLiteral("0 (frames without node number)") : QString::number(node))
        .arg(timeoutMs);
}

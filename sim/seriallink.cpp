#include "seriallink.h"

#include "linesettings.h"

namespace {

constexpr qint64 mostUnsentBytes = 64 * 1024;

} // namespace

SerialLink::SerialLink(const QString &device, const SerialCommunicationSetting &setting,
                       QObject *parent)
    : ProgramLink(parent), device(device), setting(setting)
{
    connect(&port, &QSerialPort::readyRead, this, &SerialLink::readPort);
    connect(&port, &QSerialPort::bytesWritten, this, &SerialLink::resumeOutput);
}

bool SerialLink::open(QString *error)
{
    port.setPortName(device);
    const bool opened = port.open(QIODevice::ReadWrite) && port.setBaudRate(setting.baudRate()) &&
                        port.setParity(setting.parity()) && port.setDataBits(setting.dataBits()) &&
                        port.setStopBits(setting.stopBits()) &&
                        port.setFlowControl(setting.flowControl());
    if (!opened) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, port.errorString());
        port.close();
    }
    return opened;
}

QList<QByteArray> SerialLink::readinessLines() const
{
    return {"serial " + device.toLocal8Bit()};
}

QByteArray SerialLink::lineSettingsNow() const
{
    return LineSettings::read(static_cast<int>(port.handle()));
}

void SerialLink::readPort()
{
    receive(port.readAll());
}

qint64 SerialLink::writeNow(const char *data, qint64 size)
{
    if (!port.isOpen()) {
        return -1;
    }
    if (port.bytesToWrite() > mostUnsentBytes) {
        return 0;
    }
    return port.write(data, size);
}

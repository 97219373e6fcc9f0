#ifndef VORSEL_SERIALCOMMUNICATIONSETTING_H
#define VORSEL_SERIALCOMMUNICATIONSETTING_H

#include <QSerialPort>
#include <QString>

// The five serial-line parameters, filled from a compact text such as "19200E71" or "38400O82H":
// baud rate, then an optional parity letter, data-bits digit, stop-bits digit and flow-control
// letter. Once marked invalid a value stays invalid.
class SerialCommunicationSetting
{
public:
    SerialCommunicationSetting();
    SerialCommunicationSetting(const QString &text, QSerialPort::FlowControl flowControl);

    void setProperties(const QString &text);

    bool isValid() const { return valid; }
    int baudRate() const { return rate; }
    QSerialPort::Parity parity() const { return parityValue; }
    QSerialPort::DataBits dataBits() const { return dataBitsValue; }
    QSerialPort::StopBits stopBits() const { return stopBitsValue; }
    QSerialPort::FlowControl flowControl() const { return flowControlValue; }

    void setBaudRate(int baudRate);
    void setParity(QSerialPort::Parity parity) { parityValue = parity; }
    void setDataBits(QSerialPort::DataBits dataBits) { dataBitsValue = dataBits; }
    void setStopBits(QSerialPort::StopBits stopBits) { stopBitsValue = stopBits; }
    void setFlowControl(QSerialPort::FlowControl flowControl) { flowControlValue = flowControl; }

private:
    bool valid = true;
    int rate = 9600;
    QSerialPort::Parity parityValue = QSerialPort::NoParity;
    QSerialPort::DataBits dataBitsValue = QSerialPort::Data8;
    QSerialPort::StopBits stopBitsValue = QSerialPort::OneStop;
    QSerialPort::FlowControl flowControlValue = QSerialPort::NoFlowControl;
};

#endif

#include "serialcommunicationsetting.h"

#include <QRegularExpression>

SerialCommunicationSetting::SerialCommunicationSetting() = default;

SerialCommunicationSetting::SerialCommunicationSetting(const QString &text,
                                                       QSerialPort::FlowControl flowControl)
    : flowControlValue(flowControl)
{
    setProperties(text);
}

void SerialCommunicationSetting::setBaudRate(int baudRate)
{
    if (baudRate < 0) {
        rate = -1;
        valid = false;
        return;
    }
    rate = baudRate;
}

void SerialCommunicationSetting::setProperties(const QString &text)
{
    // The whole text, ASCII only: "$" would also match before a final line feed, and upper-casing
    // the whole text would turn a long s into an S.
    static const QRegularExpression grammar(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]*)([EONeon])?([0-9])?([0-9])?([HSNhsn])?")));

    const QRegularExpressionMatch match = grammar.match(text);
    if (!match.hasMatch()) {
        valid = false;
        return;
    }

    // An empty group or a number too large for an int reads as 0.
    setBaudRate(match.captured(1).toInt());

    const QString parityLetter = match.captured(2).toUpper();
    if (parityLetter == QLatin1String("N")) {
        parityValue = QSerialPort::NoParity;
    } else if (parityLetter == QLatin1String("E")) {
        parityValue = QSerialPort::EvenParity;
    } else if (parityLetter == QLatin1String("O")) {
        parityValue = QSerialPort::OddParity;
    }

    const QString dataDigit = match.captured(3);
    if (!dataDigit.isEmpty()) {
        const int bits = dataDigit.toInt();
        if (bits >= 5 && bits <= 8) {
            dataBitsValue = static_cast<QSerialPort::DataBits>(bits);
        } else {
            valid = false;
        }
    }

    const QString stopDigit = match.captured(4);
    if (!stopDigit.isEmpty()) {
        const int stops = stopDigit.toInt();
        if (stops >= 1 && stops <= 3) {
            stopBitsValue = static_cast<QSerialPort::StopBits>(stops);
        } else {
            valid = false;
        }
    }

    const QString flowLetter = match.captured(5).toUpper();
    if (flowLetter == QLatin1String("H")) {
        flowControlValue = QSerialPort::HardwareControl;
    } else if (flowLetter == QLatin1String("S")) {
        flowControlValue = QSerialPort::SoftwareControl;
    } else if (flowLetter == QLatin1String("N")) {
        flowControlValue = QSerialPort::NoFlowControl;
    }
}

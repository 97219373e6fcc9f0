#ifndef VORSEL_SIM_SERIALLINK_H
#define VORSEL_SIM_SERIALLINK_H

#include "programlink.h"
#include "serialcommunicationsetting.h"

#include <QSerialPort>

// A serial device, for a program at the other end of a null-modem cable.
class SerialLink : public ProgramLink
{
    Q_OBJECT
public:
    SerialLink(const QString &device, const SerialCommunicationSetting &setting,
               QObject *parent = nullptr);

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override { return port.isOpen(); }
    // This end's own settings, which only this simulator changes.
    QByteArray lineSettingsAtLastReceive() const override { return lineSettingsNow(); }
    QByteArray lineSettingsNow() const override;

protected:
    qint64 writeNow(const char *data, qint64 size) override;

private slots:
    void readPort();

private:
    QString device;
    SerialCommunicationSetting setting;
    QSerialPort port;
};

#endif

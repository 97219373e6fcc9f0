#ifndef VORSEL_SIM_PTYLINK_H
#define VORSEL_SIM_PTYLINK_H

#include "programlink.h"

#include <QSocketNotifier>
#include <QString>

#include <memory>

// A pseudo-terminal: the program opens its slave end as a serial port. The simulator keeps a
// descriptor of the slave end open itself, so the master never sees a hang-up when the program
// closes the port, and the line settings the program made can still be read afterwards.
class PtyLink : public ProgramLink
{
    Q_OBJECT
public:
    // `linkPath`, when not empty, gets a symbolic link to the slave end, removed again on close.
    explicit PtyLink(const QString &linkPath, QObject *parent = nullptr);
    ~PtyLink() override;

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override { return masterFd >= 0; }
    QByteArray lineSettingsAtLastReceive() const override;
    QByteArray lineSettingsNow() const override;

protected:
    qint64 writeNow(const char *data, qint64 size) override;
    void discardUnreadOutput() override;

private slots:
    void readMaster();
    void masterWritable();

private:
    bool placeLink(QString *error);
    void close();

    QString linkPath;
    // Taken while the program has the port open: closing a serial port commonly puts back the
    // settings it found, so afterwards the line no longer shows what the program used.
    QByteArray settingsAtLastReceive;
    QString slavePath;
    bool linkPlaced = false;
    int masterFd = -1;
    int slaveFd = -1;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};

#endif

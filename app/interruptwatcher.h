#ifndef VORSEL_INTERRUPTWATCHER_H
#define VORSEL_INTERRUPTWATCHER_H

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Ctrl-C (SIGINT) as a Qt signal on the event loop. The handler only writes a byte into a pipe;
// what follows runs as an ordinary slot, never inside the handler.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

    // From now on SIGINT no longer ends the process by itself (unless no pipe can be made).
    void watch();

signals:
    void interrupted();

private slots:
    void readPipe();

private:
    int readDescriptor = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

#endif

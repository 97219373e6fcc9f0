#ifndef VORSEL_SIM_SIGNALWATCHER_H
#define VORSEL_SIM_SIGNALWATCHER_H

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>

// Turns process signals into a Qt signal on the event loop through a self-pipe: the handler only
// writes the signal number into the pipe, everything else runs as an ordinary slot.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool watch(std::initializer_list<int> signalNumbers, QString *error);

signals:
    void signalled(int signalNumber);

private slots:
    void readPipe();

private:
    int readFd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

#endif

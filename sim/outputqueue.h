#ifndef VORSEL_SIM_OUTPUTQUEUE_H
#define VORSEL_SIM_OUTPUTQUEUE_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

// One thing to send on a link: bytes (and for a flood a run of fill bytes after them), sent
// after a delay, in pieces with pauses between them, or instead a close of the connection.
struct OutputJob
{
    QByteArray bytes;
    qint64 fillCount = 0;
    int delayMs = 0;
    int pieceSize = 0;
    int pauseMs = 0;
    bool closeConnection = false;
};

// Sends jobs one after another without blocking the event loop: delays and pauses run on a
// timer, and a writer that takes fewer bytes than offered is resumed by resume().
class OutputQueue : public QObject
{
    Q_OBJECT
public:
    // Writes up to `size` bytes and returns how many it took; -1 when the link is gone.
    using Writer = std::function<qint64(const char *data, qint64 size)>;
    using Closer = std::function<void()>;

    OutputQueue(Writer writer, Closer closer, QObject *parent = nullptr);

    void append(const OutputJob &job);
    void clear();
    // Drops floods, the one being sent included: whoever they were for has moved on.
    bool dropFloods();
    bool isIdle() const { return jobs.isEmpty(); }

public slots:
    void resume();

private:
    void pump();
    void pumpOnce();
    void finishJob();

    Writer writer;
    Closer closer;
    QList<OutputJob> jobs;
    QTimer timer;
    qint64 position = 0;
    qint64 pieceRemaining = 0;
    bool delayDone = false;
    bool pauseDone = false;
    bool pumping = false;
    bool pumpAgain = false;
};

#endif

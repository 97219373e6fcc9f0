#include "outputqueue.h"

#include <algorithm>
#include <utility>

namespace {

// Large enough to keep a link busy, small enough to stay responsive between chunks.
constexpr qint64 chunkSize = 64 * 1024;

const QByteArray &fillChunk()
{
    static const QByteArray chunk(chunkSize, 'A');
    return chunk;
}

} // namespace

OutputQueue::OutputQueue(Writer writer, Closer closer, QObject *parent)
    : QObject(parent), writer(std::move(writer)), closer(std::move(closer))
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &OutputQueue::pump);
}

void OutputQueue::append(const OutputJob &job)
{
    jobs.append(job);
    pump();
}

void OutputQueue::clear()
{
    jobs.clear();
    timer.stop();
    finishJob();
}

bool OutputQueue::dropFloods()
{
    if (jobs.isEmpty()) {
        return false;
    }
    const bool current = jobs.first().fillCount > 0;
    const int before = jobs.size();
    if (current) {
        jobs.removeFirst();
        timer.stop();
        finishJob();
    }
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(),
                              [](const OutputJob &job) { return job.fillCount > 0; }),
               jobs.end());
    const bool dropped = jobs.size() != before;
    if (current) {
        pump();
    }
    return dropped;
}

void OutputQueue::resume()
{
    pump();
}

void OutputQueue::finishJob()
{
    position = 0;
    pieceRemaining = 0;
    delayDone = false;
    pauseDone = false;
}

// A writer or closer may come back here (a closed socket clears the queue, a new client's
// frames append to it); the nested call only asks for one more round.
void OutputQueue::pump()
{
    if (pumping) {
        pumpAgain = true;
        return;
    }
    pumping = true;
    do {
        pumpAgain = false;
        pumpOnce();
    } while (pumpAgain);
    pumping = false;
}

void OutputQueue::pumpOnce()
{
    while (!jobs.isEmpty() && !timer.isActive()) {
        OutputJob &job = jobs.first();
        if (!delayDone) {
            delayDone = true;
            if (job.delayMs > 0) {
                timer.start(job.delayMs);
                return;
            }
        }
        if (job.closeConnection) {
            jobs.removeFirst();
            finishJob();
            closer();
            continue;
        }
        const qint64 total = job.bytes.size() + job.fillCount;
        while (position < total) {
            if (pieceRemaining == 0) {
                if (position > 0 && job.pieceSize > 0 && !pauseDone) {
                    pauseDone = true;
                    timer.start(job.pauseMs);
                    return;
                }
                pauseDone = false;
                pieceRemaining = job.pieceSize > 0 ? qMin<qint64>(job.pieceSize, total - position)
                                                   : total - position;
            }
            const qint64 bytesSize = job.bytes.size();
            const char *data;
            qint64 size;
            if (position < bytesSize) {
                data = job.bytes.constData() + position;
                size = qMin(pieceRemaining, bytesSize - position);
            } else {
                data = fillChunk().constData();
                size = pieceRemaining;
            }
            size = qMin(size, chunkSize);
            const qint64 written = writer(data, size);
            if (written < 0) {
                clear();
                return;
            }
            position += written;
            pieceRemaining -= written;
            if (written < size) {
                return;
            }
        }
        jobs.removeFirst();
        finishJob();
    }
}

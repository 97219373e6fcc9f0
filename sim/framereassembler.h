#ifndef VORSEL_SIM_FRAMEREASSEMBLER_H
#define VORSEL_SIM_FRAMEREASSEMBLER_H

#include <QByteArray>
#include <QList>

// Cuts a byte stream into frames at each CR, whatever pieces the bytes arrive in. Holds at most
// one frame's worth of bytes: a run longer than the largest frame is dropped up to and
// including its CR. Line feeds in front of a frame (the tail of a CR LF line end) are skipped.
class FrameReassembler
{
public:
    // Appends bytes and returns the frames they complete, each ending with its CR.
    QList<QByteArray> append(const QByteArray &bytes);
    void clear();
    int pendingSize() const { return pending.size(); }

private:
    QByteArray pending;
    bool discarding = false;
};

#endif

#include "framereassembler.h"

#include "v640.h"

QList<QByteArray> FrameReassembler::append(const QByteArray &bytes)
{
    QList<QByteArray> frames;
    int position = 0;
    while (position < bytes.size()) {
        const int carriageReturn = bytes.indexOf('\r', position);
        const int end = carriageReturn < 0 ? bytes.size() : carriageReturn + 1;
        int start = position;
        position = end;
        if (discarding) {
            discarding = carriageReturn < 0;
            continue;
        }
        if (pending.isEmpty()) {
            while (start < end && bytes.at(start) == '\n') {
                ++start;
            }
        }
        // One byte past the largest frame is enough to know that it cannot become one.
        const int room = V640_MAX_FRAME_SIZE + 1 - pending.size();
        pending.append(bytes.constData() + start, qMin(end - start, room));
        if (pending.size() > V640_MAX_FRAME_SIZE) {
            pending.clear();
            discarding = carriageReturn < 0;
            continue;
        }
        if (carriageReturn >= 0 && !pending.isEmpty()) {
            frames.append(pending);
            pending.clear();
        }
    }
    return frames;
}

void FrameReassembler::clear()
{
    pending.clear();
    discarding = false;
}

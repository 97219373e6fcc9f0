#include "standardinput.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

StandardInput::StandardInput(int descriptor, int lineLimit)
    : descriptor(descriptor), lineLimit(lineLimit)
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool StandardInput::atEnd() const
{
    return endOfInput && pending.isEmpty();
}

qint64 StandardInput::bytesAvailable() const
{
    return pending.size() + QIODevice::bytesAvailable();
}

bool StandardInput::hasPendingInput() const
{
    return endOfInput || wholeLines > 0;
}

bool StandardInput::receive()
{
    char chunk[4096];
    ssize_t count;
    do {
        count = ::read(descriptor, chunk, sizeof chunk);
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
        append(chunk, static_cast<int>(count));
    } else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        endOfInput = true;
    }
    return hasPendingInput();
}

void StandardInput::append(const char *bytes, int count)
{
    const char *end = bytes + count;
    while (bytes < end) {
        const char *lineEnd = static_cast<const char *>(memchr(bytes, '\n', size_t(end - bytes)));
        const int length = int((lineEnd != nullptr ? lineEnd : end) - bytes);
        const int kept = qMin(length, lineLimit - partialLength);
        pending.append(bytes, kept);
        partialLength += kept;
        if (lineEnd == nullptr) {
            return;
        }
        pending.append('\n');
        partialLength = 0;
        ++wholeLines;
        bytes = lineEnd + 1;
    }
}

qint64 StandardInput::readData(char *data, qint64 maxSize)
{
    if (pending.isEmpty()) {
        return endOfInput ? -1 : 0;
    }
    const int lineEnd = pending.indexOf('\n');
    const qint64 count = qMin<qint64>(lineEnd >= 0 ? lineEnd + 1 : pending.size(), maxSize);
    memcpy(data, pending.constData(), static_cast<size_t>(count));
    pending.remove(0, static_cast<int>(count));
    if (lineEnd >= 0 && count == lineEnd + 1) {
        --wholeLines;
    }
    return count;
}

qint64 StandardInput::writeData(const char *, qint64)
{
    return -1;
}

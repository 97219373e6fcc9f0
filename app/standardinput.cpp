#include "standardinput.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

StandardInput::StandardInput(int descriptor, int lineLimit)
    : descriptor(descriptor), lineLimit(lineLimit)
{
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
    if (consumed > 0) {
        pending.remove(0, consumed);
        consumed = 0;
    }
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

bool StandardInput::takeLine(QByteArray *line)
{
    const int lineEnd = pending.indexOf('\n', consumed);
    if (lineEnd < 0 && !(endOfInput && consumed < pending.size())) {
        return false;
    }
    const int end = lineEnd < 0 ? pending.size() : lineEnd;
    line->resize(end - consumed);
    memcpy(line->data(), pending.constData() + consumed, size_t(end - consumed));
    consumed = lineEnd < 0 ? end : end + 1;
    wholeLines -= lineEnd < 0 ? 0 : 1;
    return true;
}

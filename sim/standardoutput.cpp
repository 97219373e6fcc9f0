#include "standardoutput.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace StandardOutput {

bool writeLine(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    qint64 position = 0;
    while (position < bytes.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.constData() + position,
                                        static_cast<size_t>(bytes.size() - position));
        if (written > 0) {
            position += written;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd descriptor{STDOUT_FILENO, POLLOUT, 0};
            poll(&descriptor, 1, 1000);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace StandardOutput

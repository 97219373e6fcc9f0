#include "traffictrace.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands.h"
#include "outputfile.h"

QString TrafficTrace::open(const QString &path)
{
    if (path == QLatin1String("-")) {
        return file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered)
                   ? QString()
                   : QStringLiteral("cannot open standard error");
    }
    // A link planted in a shared directory must not lead the trace into another file, and what
    // is no regular file is not even opened: a FIFO without a reader would block the run, and
    // opening a device can do harm of its own. The file opened is looked at once more.
    const QByteArray name = QFile::encodeName(path);
    if (const char *kind = irregularKind(name)) {
        return QStringLiteral("'%1' is %2, not a regular file").arg(path, QLatin1String(kind));
    }
    // The log may hold passwords and addresses: only its owner may read it.
    const int descriptor = ::open(
        name.constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        return QStringLiteral("cannot open '%1': %2")
            .arg(path, QString::fromLocal8Bit(strerror(errno)));
    }
    struct stat opened = {};
    if (fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(descriptor);
        return QStringLiteral("'%1' is not a regular file").arg(path);
    }
    return file.open(descriptor, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle)
               ? QString()
               : QStringLiteral("cannot open '%1'").arg(path);
}

void TrafficTrace::opened()
{
    if (!file.isOpen()) {
        return;
    }
    write(openedBefore ? "reopen" : "open");
    openedBefore = true;
}

void TrafficTrace::closed()
{
    if (!file.isOpen()) {
        return;
    }
    write("close");
}

void TrafficTrace::sent(const QByteArray &frame, int attempt)
{
    if (!file.isOpen()) {
        return;
    }
    // A trace is read by others than the one who typed a password.
    const QByteArray shown = escaped(Commands::concealed(frame));
    write(">", attempt > 1 ? shown + " (attempt " + QByteArray::number(attempt) + ')' : shown);
}

void TrafficTrace::answered(const QByteArray &answer, qint64 milliseconds)
{
    if (!file.isOpen()) {
        return;
    }
    write("<", escaped(answer) + " (" + QByteArray::number(milliseconds) + " ms)");
}

void TrafficTrace::timedOut(qint64 milliseconds, const QByteArray &partial)
{
    if (!file.isOpen()) {
        return;
    }
    QByteArray detail = "after " + QByteArray::number(milliseconds) + " ms";
    if (!partial.isEmpty()) {
        detail += ", received " + escaped(partial);
    }
    write("timeout", detail);
}

void TrafficTrace::discarded(const QByteArray &bytes)
{
    if (!file.isOpen()) {
        return;
    }
    write("discarded", escaped(bytes));
}

QByteArray TrafficTrace::escaped(const QByteArray &bytes)
{
    QByteArray text;
    for (const char character : bytes) {
        const auto byte = static_cast<unsigned char>(character);
        if (character == '\r') {
            text += "\\r";
        } else if (character == '\n') {
            text += "\\n";
        } else if (character == '\\') {
            text += "\\\\";
        } else if (byte < 0x20 || byte > 0x7E) {
            text += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        } else {
            text += character;
        }
    }
    return text;
}

void TrafficTrace::write(const char *event, const QByteArray &detail)
{
    // A trace with a line missing would mislead: nothing more is written after one.
    if (writeFailed) {
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    QByteArray line = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
    line += ' ';
    line += event;
    line += ' ';
    line += link.toUtf8();
    if (!detail.isEmpty()) {
        line += ' ' + detail;
    }
    line += '\n';
    writeFailed = file.write(line) != line.size();
}

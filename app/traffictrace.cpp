#include "traffictrace.h"

#include <QDateTime>

#include <fcntl.h>
#include <unistd.h>

#include "commands.h"

bool TrafficTrace::open(const QString &path)
{
    if (path == QLatin1String("-")) {
        return file.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    // The log may hold passwords and addresses: only its owner may read it.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        // Fails again, and leaves the system's reason in errorString().
        file.setFileName(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    return file.open(descriptor, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle);
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
    file.write(line);
}

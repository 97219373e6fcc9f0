#include "ptylink.h"

#include "linesettings.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyLink::PtyLink(const QString &linkPath, QObject *parent) : ProgramLink(parent), linkPath(linkPath)
{
}

PtyLink::~PtyLink()
{
    close();
}

bool PtyLink::open(QString *error)
{
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0) {
        *error = systemError(QStringLiteral("cannot create a pseudo-terminal"));
        return false;
    }
    char name[128];
    if (grantpt(masterFd) != 0 || unlockpt(masterFd) != 0 ||
        ptsname_r(masterFd, name, sizeof name) != 0) {
        *error = systemError(QStringLiteral("cannot prepare the pseudo-terminal"));
        close();
        return false;
    }
    slavePath = QString::fromLocal8Bit(name);
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings;
    if (slaveFd < 0 || tcgetattr(slaveFd, &settings) != 0) {
        *error = systemError(QStringLiteral("cannot open %1").arg(slavePath));
        close();
        return false;
    }
    // Raw from the start: no echo and no line editing of frames before the program sets the line.
    cfmakeraw(&settings);
    if (tcsetattr(slaveFd, TCSANOW, &settings) != 0 ||
        fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK) != 0) {
        *error = systemError(QStringLiteral("cannot set up %1").arg(slavePath));
        close();
        return false;
    }
    if (!linkPath.isEmpty() && !placeLink(error)) {
        close();
        return false;
    }
    readNotifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, &PtyLink::readMaster);
    writeNotifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    connect(writeNotifier.get(), &QSocketNotifier::activated, this, &PtyLink::masterWritable);
    return true;
}

bool PtyLink::placeLink(QString *error)
{
    // A link left behind by an earlier run that was killed is replaced; anything else is kept.
    const QFileInfo existing(linkPath);
    if (existing.isSymLink()) {
        QFile::remove(linkPath);
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
        return false;
    }
    if (symlink(slavePath.toLocal8Bit().constData(), linkPath.toLocal8Bit().constData()) != 0) {
        *error = systemError(QStringLiteral("cannot create the link %1").arg(linkPath));
        return false;
    }
    linkPlaced = true;
    return true;
}

void PtyLink::close()
{
    readNotifier.reset();
    writeNotifier.reset();
    if (linkPlaced && QFileInfo(linkPath).symLinkTarget() == QFileInfo(slavePath).filePath()) {
        QFile::remove(linkPath);
    }
    linkPlaced = false;
    if (slaveFd >= 0) {
        ::close(slaveFd);
        slaveFd = -1;
    }
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
    }
}

QList<QByteArray> PtyLink::readinessLines() const
{
    QList<QByteArray> lines{"pty " + slavePath.toLocal8Bit()};
    if (!linkPath.isEmpty()) {
        lines.append("link " + linkPath.toLocal8Bit());
    }
    return lines;
}

QByteArray PtyLink::lineSettingsAtLastReceive() const
{
    return settingsAtLastReceive.isEmpty() ? lineSettingsNow() : settingsAtLastReceive;
}

QByteArray PtyLink::lineSettingsNow() const
{
    return LineSettings::read(slaveFd);
}

void PtyLink::readMaster()
{
    char buffer[4096];
    // Bounded, so that a program that never stops writing cannot starve the event loop.
    for (int round = 0; round < 16; ++round) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            settingsAtLastReceive = lineSettingsNow();
            receive(QByteArray(buffer, static_cast<int>(count)));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Cannot happen while the slave descriptor is held; stop rather than spin.
            readNotifier->setEnabled(false);
        }
        return;
    }
}

void PtyLink::masterWritable()
{
    writeNotifier->setEnabled(false);
    resumeOutput();
}

qint64 PtyLink::writeNow(const char *data, qint64 size)
{
    if (masterFd < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t written = ::write(masterFd, data, static_cast<size_t>(size));
        if (written >= 0) {
            if (written < size) {
                writeNotifier->setEnabled(true);
            }
            return written;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            writeNotifier->setEnabled(true);
            return 0;
        }
        return -1;
    }
}

void PtyLink::discardUnreadOutput()
{
    tcflush(slaveFd, TCIFLUSH);
}

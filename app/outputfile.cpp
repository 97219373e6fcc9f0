#include "outputfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(strerror(errno));
}

const char *kindOf(mode_t mode)
{
    if (S_ISREG(mode)) {
        return nullptr;
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    return S_ISSOCK(mode) ? "a socket" : "a directory";
}

} // namespace

const char *irregularKind(const QByteArray &path)
{
    struct stat status = {};
    return lstat(path.constData(), &status) == 0 ? kindOf(status.st_mode) : nullptr;
}

ReplacedFile::~ReplacedFile()
{
    if (descriptor >= 0) {
        ::close(descriptor);
        unlink(temporary.constData());
    }
}

QString ReplacedFile::open(const QString &name)
{
    path = QFile::encodeName(name);
    if (const char *kind = irregularKind(path)) {
        return QStringLiteral("'%1' is %2, not a regular file").arg(name, QLatin1String(kind));
    }
    // Created anew, readable by nobody else until it is complete and takes the name.
    temporary = path + ".XXXXXX";
    descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        return QStringLiteral("cannot create '%1': %2").arg(name, systemReason());
    }
    return QString();
}

QString ReplacedFile::commit(const QByteArray &content)
{
    for (qint64 written = 0; written < content.size();) {
        const ssize_t count = ::write(descriptor, content.constData() + written,
                                      static_cast<size_t>(content.size() - written));
        if (count < 0 && errno != EINTR) {
            return systemReason();
        }
        written += qMax<ssize_t>(count, 0);
    }
    // Looked at once more right before it is replaced, so that what came there meanwhile is
    // neither followed nor replaced.
    struct stat old = {};
    const bool replaces = lstat(path.constData(), &old) == 0;
    if (const char *kind = replaces ? kindOf(old.st_mode) : nullptr) {
        return QStringLiteral("it is now %1").arg(QLatin1String(kind));
    }
    const mode_t mask = umask(0);
    umask(mask);
    if ((replaces && geteuid() == 0 && fchown(descriptor, old.st_uid, old.st_gid) != 0) ||
        fchmod(descriptor, replaces ? old.st_mode & 0777 : 0666 & ~mask) != 0) {
        return systemReason();
    }
    if (fsync(descriptor) != 0 || rename(temporary.constData(), path.constData()) != 0) {
        return systemReason();
    }
    ::close(descriptor);
    descriptor = -1;
    return QString();
}

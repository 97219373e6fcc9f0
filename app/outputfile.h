#ifndef VORSEL_OUTPUTFILE_H
#define VORSEL_OUTPUTFILE_H

#include <QByteArray>
#include <QString>

// The files vorsel writes on a user's word, often as root: the last component of the path is
// never followed, and nothing but a regular file is written or replaced, so that a link planted
// in a shared directory, a device or a FIFO cannot turn the write against the machine.

// What the path's last component names, unfollowed, when that is not a regular file ("a symbolic
// link", "a device", "a FIFO", "a socket", "a directory"); null for a regular file, for nothing
// there, and for a path that cannot be looked at (opening it then tells why).
const char *irregularKind(const QByteArray &path);

// A file replaced whole: the content goes to a new file beside it, which is renamed over it only
// once it is all on the disk, so the old file stays whole when anything fails. A replaced file
// keeps its owner (when root replaces it) and its permissions; a new one gets those of a new file.
class ReplacedFile
{
public:
    ReplacedFile() = default;
    ReplacedFile(const ReplacedFile &) = delete;
    ReplacedFile &operator=(const ReplacedFile &) = delete;
    // The new file goes unless it took the name.
    ~ReplacedFile();

    // Creates the new file; why it cannot be written in place of the path, or nothing.
    QString open(const QString &path);
    // Writes the content and renames the new file over the path; why that failed, or nothing.
    QString commit(const QByteArray &content);

private:
    QByteArray path;
    QByteArray temporary;
    int descriptor = -1;
};

#endif

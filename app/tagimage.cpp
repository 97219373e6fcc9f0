#include "tagimage.h"

#include <QFile>
#include <QList>

#include <cctype>
#include <unistd.h>

namespace {

const int pageDigits = 2 * TagImage::pageSize;
// Any image is far smaller; more is not an image.
const qint64 imageFileLimit = 1024 * 1024;

bool isHexadecimal(const QByteArray &text)
{
    for (const char character : text) {
        if (!isxdigit(static_cast<unsigned char>(character))) {
            return false;
        }
    }
    return true;
}

// Lines of hexadecimal digits, with blank or comment lines among them: a text image, whole or not.
bool isTextForm(const QByteArray &content)
{
    bool digits = false;
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith('#')) {
            if (!isHexadecimal(trimmed)) {
                return false;
            }
            digits = true;
        }
    }
    return digits;
}

} // namespace

TagImage::TagImage() : values(byteCount, '\0'), known(byteCount, '\0') {}

bool TagImage::parse(const QByteArray &content)
{
    // A whole text image is longer, but one cut after 8 pages is just as long: text is never
    // taken for raw bytes.
    if (content.size() == byteCount && !isTextForm(content)) {
        values = content;
        known.fill('\1');
        return true;
    }
    QByteArray digits;
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#')) {
            continue;
        }
        if (trimmed.size() != pageDigits || !isHexadecimal(trimmed) ||
            digits.size() == byteCount * 2) {
            return false;
        }
        digits += trimmed;
    }
    if (digits.size() != byteCount * 2) {
        return false;
    }
    setDigits(0, digits);
    return true;
}

QByteArray TagImage::text(const QString &comment) const
{
    QByteArray text = "# " + comment.toUtf8() + '\n';
    const QByteArray all = digits();
    for (int page = 0; page < pageCount; ++page) {
        text += all.mid(page * pageDigits, pageDigits) + '\n';
    }
    return text;
}

void TagImage::setDigits(int address, const QByteArray &digits)
{
    const QByteArray bytes = QByteArray::fromHex(digits);
    for (int i = 0; i < bytes.size() && address + i < byteCount; ++i) {
        values[address + i] = bytes.at(i);
        known[address + i] = '\1';
    }
}

quint32 TagImage::pageMask() const
{
    quint32 mask = 0;
    for (int address = 0; address < byteCount; ++address) {
        if (holds(address)) {
            mask |= 1u << (address / pageSize + 2);
        }
    }
    return mask;
}

int TagImage::firstDifference(const TagImage &other) const
{
    for (int address = 0; address < byteCount; ++address) {
        if (holds(address) && other.holds(address) && byte(address) != other.byte(address)) {
            return address;
        }
    }
    return -1;
}

QString readImageFile(const QString &name, TagImage *image)
{
    QFile file;
    const bool opened = name == QLatin1String("-")
                            ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                            : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        return QStringLiteral("cannot read '%1': %2").arg(name, file.errorString());
    }
    QByteArray content;
    for (QByteArray piece = file.read(imageFileLimit + 1);
         !piece.isEmpty() && content.size() <= imageFileLimit;
         piece = file.read(imageFileLimit + 1 - content.size())) {
        content += piece;
    }
    if (content.size() > imageFileLimit || !image->parse(content)) {
        return QStringLiteral("'%1' is no image: 17 lines of 16 hexadecimal digits, or 136 bytes, "
                              "expected")
            .arg(name);
    }
    return QString();
}

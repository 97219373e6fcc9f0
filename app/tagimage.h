#ifndef VORSEL_TAGIMAGE_H
#define VORSEL_TAGIMAGE_H

#include <QByteArray>
#include <QString>

// The bytes of a tag, whole or in part: what an image file holds, what was written, what was
// read back. Addresses are byte addresses 0 to 135; page p (1 to 17) covers 8(p-1) to 8(p-1)+7.
class TagImage
{
public:
    static const int pageCount = 17;
    static const int pageSize = 8;
    static const int byteCount = pageCount * pageSize;

    TagImage();

    // An image file's content: exactly 136 raw bytes, or the text form (17 lines of 16
    // hexadecimal digits; blank lines and lines starting with '#' do not count). 136 bytes of
    // lines of hexadecimal digits are text, not raw. False for anything else; the image is then
    // unchanged.
    bool parse(const QByteArray &content);
    // The text form, with a comment line first.
    QByteArray text(const QString &comment) const;
    // Two upper-case hexadecimal digits per byte, in address order.
    QByteArray digits() const { return values.toHex().toUpper(); }

    // Sets bytes from hexadecimal digits (two per byte, already checked).
    void setDigits(int address, const QByteArray &digits);
    bool holds(int address) const { return known.at(address) != 0; }
    quint8 byte(int address) const { return quint8(values.at(address)); }
    // The pages that hold any byte, as a read command's mask (page p is bit p + 1).
    quint32 pageMask() const;

    // The first address that both images hold with different values, or -1.
    int firstDifference(const TagImage &other) const;

private:
    QByteArray values;
    QByteArray known;
};

// Reads an image file ("-" is standard input) whole; returns why it holds no image, or nothing
// when it does.
QString readImageFile(const QString &name, TagImage *image);

#endif

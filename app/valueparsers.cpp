#include "valueparsers.h"

#include <cctype>

namespace {

// A tag holds 17 pages of 8 bytes; a byte write must end within it.
const int tagBytes = 136;
const int pageDigits = 16;

} // namespace

bool isHexadecimalText(const QString &text)
{
    for (const QChar character : text) {
        const char latin = character.toLatin1();
        if (character.unicode() > 0x7F || !isxdigit(static_cast<unsigned char>(latin))) {
            return false;
        }
    }
    return true;
}

int byteAddress(const QString &text)
{
    bool converted = false;
    const int address = text.toInt(&converted, 16);
    return converted && !text.isEmpty() && isHexadecimalText(text) && address <= 0x87 ? address
                                                                                      : -1;
}

QString tagDataProblem(Commands::ValueForm form, const QString &tagData, int pages, int address)
{
    if (!isHexadecimalText(tagData)) {
        return QStringLiteral("tag data must be hexadecimal digits, got '%1'").arg(tagData);
    }
    switch (form) {
    case Commands::ValueForm::PagesAndTagData:
        if (tagData.size() != pages * pageDigits) {
            return QStringLiteral("%1 hexadecimal digits per page expected, got %2 for %3 page%4")
                .arg(pageDigits)
                .arg(tagData.size())
                .arg(pages)
                .arg(pages == 1 ? "" : "s");
        }
        break;
    case Commands::ValueForm::PagesAndOnePage:
        if (tagData.size() != pageDigits) {
            return QStringLiteral("%1 hexadecimal digits expected, got %2")
                .arg(pageDigits)
                .arg(tagData.size());
        }
        break;
    case Commands::ValueForm::AddressAndTagData:
        if (tagData.size() < 2 || tagData.size() % 2 != 0) {
            return QStringLiteral("whole bytes of tag data expected (an even number of "
                                  "hexadecimal digits), got %1 digits")
                .arg(tagData.size());
        }
        if (address + tagData.size() / 2 > tagBytes) {
            return QStringLiteral("%1 bytes from address %2 end beyond the tag's %3 bytes")
                .arg(tagData.size() / 2)
                .arg(address, 2, 16, QLatin1Char('0'))
                .arg(tagBytes);
        }
        break;
    default:
        break;
    }
    return QString();
}

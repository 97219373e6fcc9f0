// The readers of what a user hands vorsel: an image file's content, and the command line's page
// list, IP address, byte address and tag data. A crash and bounds net with the promises that hold
// for any text; what each must make of a given text is the unit and end-to-end tests' business.
//
// Input layout: a reader byte (modulo 5: image, pages, IP address, byte address, tag data); for
// tag data a form byte (modulo 3: write, same-write, byte-write), a page count and a byte address
// (each taken modulo its range); then the text: every byte that is left, read as an image file's
// bytes, or as UTF-8 for the values, so that characters beyond ASCII reach them.

#include <QCoreApplication>
#include <QRegularExpression>

#include "consoleapplicationmain.h"
#include "fuzz_support.h"
#include "tagimage.h"
#include "valueparsers.h"

namespace {

using Commands::ValueForm;

ConsoleApplicationMain *controller = nullptr;

bool whole(const char *pattern, const QString &text)
{
    return QRegularExpression(QStringLiteral("\\A(%1)\\z").arg(QLatin1String(pattern)))
        .match(text)
        .hasMatch();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The controller's timer needs an application, as in the program; both live until exit.
    static QCoreApplication application(*argc, *argv);
    controller = new ConsoleApplicationMain;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const uint8_t reader = input.byte() % 5;
    const ValueForm forms[] = {ValueForm::PagesAndTagData, ValueForm::PagesAndOnePage,
                               ValueForm::AddressAndTagData};
    const ValueForm form = reader == 4 ? forms[input.byte() % 3] : ValueForm::None;
    const int pages = reader == 4 ? input.byte() % (TagImage::pageCount + 1) : 0;
    const int address = reader == 4 ? input.byte() % TagImage::byteCount : 0;
    const uint8_t *bytes = nullptr;
    const int count = static_cast<int>(input.take(input.remaining(), &bytes));
    const QByteArray content(reinterpret_cast<const char *>(bytes), count);
    const QString text = QString::fromUtf8(content);
    if (reader == 0) {
        // An image read is the whole tag, and its text form reads back as the same image; one
        // refused is left as it was.
        TagImage image;
        TagImage again;
        FUZZ_REQUIRE(image.parse(content)
                         ? image.pageMask() == 0x7FFFCu && again.parse(image.text("again")) &&
                               again.digits() == image.digits()
                         : image.pageMask() == 0 && image.digits() == again.digits());
    } else if (reader == 1) {
        // Nothing, or a mask of pages 1 to 17 (bits 2 to 18).
        const QString mask = controller->parsePagesParameter(text);
        const uint bits = mask.toUInt(nullptr, 16);
        FUZZ_REQUIRE(mask.isNull() ||
                     (whole("[0-9A-F]{8}", mask) && bits != 0 && (bits & ~0x7FFFCu) == 0));
    } else if (reader == 2) {
        // Nothing, or four parts 0 to 255 of three decimal digits each.
        const QString digits = controller->parseIPAddressParameter(text);
        FUZZ_REQUIRE(digits.isNull() || whole("([01][0-9]{2}|2[0-4][0-9]|25[0-5]){4}", digits));
    } else if (reader == 3) {
        const int typed = byteAddress(text);
        FUZZ_REQUIRE(typed == -1 || (typed <= 0x87 && whole("[0-9A-Fa-f]+", text) &&
                                     text.toInt(nullptr, 16) == typed));
    } else if (tagDataProblem(form, text, pages, address).isEmpty()) {
        // Taken only as whole digits that fit the operation exactly.
        const int digits = text.size();
        FUZZ_REQUIRE(
            whole("[0-9A-Fa-f]*", text) &&
            (form == ValueForm::PagesAndTagData ? digits == pages * 16
             : form == ValueForm::PagesAndOnePage
                 ? digits == 16
                 : digits >= 2 && digits % 2 == 0 && address + digits / 2 <= TagImage::byteCount));
    }
    return 0;
}

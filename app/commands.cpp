#include "commands.h"

#include <QCoreApplication>

#include "v640.h"

namespace Commands {

namespace {

const int pageDigits = 16;
// Page n is bit n + 1.
const quint32 pageBits = 0x7FFFC;

#define TEXT(text) QT_TRANSLATE_NOOP("ConsoleApplicationMain", text)

const Command freeCommand = {0,       nullptr,         nullptr,         nullptr,
                             nullptr, ValueForm::None, AnswerForm::Free};

// Counted text read at fixed positions. A position past its end reads as a non-digit, that is as
// digit 0.
class FixedFields
{
public:
    FixedFields(const char *text, int length) : text(text), length(text != nullptr ? length : 0) {}

    quint32 decimal(int offset, int count) const
    {
        char field[maximumCount];
        copy(offset, count, field);
        return text_to_dec(field, count);
    }

    quint32 hexadecimal(int offset, int count) const
    {
        char field[maximumCount];
        copy(offset, count, field);
        return text_to_hex(field, count);
    }

private:
    static const int maximumCount = 10;

    void copy(int offset, int count, char *field) const
    {
        for (int i = 0; i < count && i < maximumCount; ++i) {
            field[i] = offset + i < length ? text[offset + i] : ' ';
        }
    }

    const char *text;
    int length;
};

bool hasDigits(const char *text, int length, bool decimal)
{
    if (length == 0) {
        return true;
    }
    return decimal ? text_is_dec(text, length) != 0 : text_is_hex(text, length) != 0;
}

// Four parts of three decimal digits, each 0 to 255.
bool partsAreOctets(const char *digits)
{
    for (int part = 0; part < 4; ++part) {
        if (text_to_dec(digits + 3 * part, 3) > 255) {
            return false;
        }
    }
    return true;
}

} // namespace

const Command operations[] = {
    {0x0100, "r", "read", TEXT("peges"), TEXT("Reads any pages of data from the ID Tag."),
     ValueForm::Pages, AnswerForm::Pages},
    {0x0200, "w", "write", TEXT("peges"), TEXT("Data is written in page units to the ID Tag."),
     ValueForm::PagesAndTagData, AnswerForm::NoData},
    {0x0300, "s", "same-write", TEXT("peges"),
     TEXT("Writes the same data to multiple pages of an ID Tag."), ValueForm::PagesAndOnePage,
     AnswerForm::NoData},
    {0x0400, "b", "byte-write", TEXT("address"),
     TEXT("Writes data to any specified number of bytes starting from the address specified in "
          "the ID Tag."),
     ValueForm::AddressAndTagData, AnswerForm::NoData},
    {0x10, nullptr, "test", TEXT("hex string"), TEXT("Performs a communications test."),
     ValueForm::Verbatim, AnswerForm::Text},
    {0x12, nullptr, "nak", nullptr, TEXT("Sends the response made immediately before again."),
     ValueForm::None, AnswerForm::Free},
    {0x1401, nullptr, "get-model-number", nullptr, TEXT("Getting the Model Number."),
     ValueForm::None, AnswerForm::Text},
    {0x1402, nullptr, "get-firmware-version", nullptr, TEXT("Getting the Firmware Version."),
     ValueForm::None, AnswerForm::Firmware},
    {0x1403, nullptr, "get-mac-address", nullptr, TEXT("Getting the MAC Address."), ValueForm::None,
     AnswerForm::MacAddress},
    {0x1410, nullptr, "get-dip-switch-status", nullptr,
     TEXT("Checking the DIP Switch network setting."), ValueForm::None, AnswerForm::Flag},
    {0x1411, nullptr, "get-ip-address-on-dip-switch", nullptr,
     TEXT("Checking IP Address on DIP Switch."), ValueForm::None, AnswerForm::IPAddress},
    {0x1412, nullptr, "get-subnet-mask-on-dip-switch", nullptr,
     TEXT("Checking subnet mask on DIP Switch."), ValueForm::None, AnswerForm::IPAddress},
    {0x1413, nullptr, "get-ip-address-in-rom", nullptr, TEXT("Checking IP Address in ROM."),
     ValueForm::None, AnswerForm::IPAddress},
    {0x1414, nullptr, "get-subnet-mask-in-rom", nullptr, TEXT("Checking subnet mask in ROM."),
     ValueForm::None, AnswerForm::IPAddress},
    {0x1420, nullptr, "get-memory-status", nullptr, TEXT("Getting the Memory Status."),
     ValueForm::None, AnswerForm::Flag},
    {0x1421, nullptr, "get-antenna-connection-status", nullptr,
     TEXT("Getting the Antenna Connection Status."), ValueForm::None, AnswerForm::Flag},
    {0x15, nullptr, "get-last-command", nullptr, TEXT("Gets the command code of the last command."),
     ValueForm::None, AnswerForm::CommandCode},
    {0x16, nullptr, "get-communications-history", nullptr,
     TEXT("Gets the history of communications."), ValueForm::None, AnswerForm::History},
    {0x17, nullptr, "clear-communications-history", nullptr,
     TEXT("Clears the communications history."), ValueForm::None, AnswerForm::NoData},
    {0x40, nullptr, "noise-measurement", nullptr, TEXT("The levels of noise in the vicinity."),
     ValueForm::None, AnswerForm::NoiseLevel},
    {0x7F, nullptr, "reset", nullptr,
     TEXT("All Amplifier Unit processing is stopped, and the initial status is re-established."),
     ValueForm::None, AnswerForm::NoData},
    {0xA2, nullptr, "set-web-password", TEXT("password"), TEXT("Sets the Web password."),
     ValueForm::Verbatim, AnswerForm::NoData},
    {0xA300, nullptr, "set-ip-address", TEXT("address"), TEXT("Sets the IP address."),
     ValueForm::IPAddress, AnswerForm::NoData},
    {0xA301, nullptr, "set-subnet-mask", TEXT("subnet mask"), TEXT("Sets the subnet mask."),
     ValueForm::IPAddress, AnswerForm::NoData},
};

const int operationCount = int(sizeof operations / sizeof operations[0]);

const Command &command(quint32 code)
{
    for (const Command &candidate : operations) {
        if (candidate.code == code) {
            return candidate;
        }
    }
    return freeCommand;
}

bool hasAnswerForm(int code, const QByteArray &commandFrame, const QByteArray &response)
{
    int length = 0;
    const char *data = v640_get_response_parameter(response.constData(), &length);
    switch (command(quint32(code)).answer) {
    case AnswerForm::Free:
    case AnswerForm::Text:
        return true;
    case AnswerForm::NoData:
        return length == 0;
    case AnswerForm::Pages:
        return length ==
                   population_count(requestedPageMask(commandFrame) & pageBits) * pageDigits &&
               hasDigits(data, length, false);
    case AnswerForm::Firmware:
        // The major part is read as decimal, the minor part as hexadecimal.
        return length == 4 && hasDigits(data, 2, true) && hasDigits(data + 2, 2, false);
    case AnswerForm::MacAddress:
    case AnswerForm::History:
        return length == 12 && hasDigits(data, length, false);
    case AnswerForm::Flag:
    case AnswerForm::NoiseLevel:
        return length == 2 && hasDigits(data, length, true);
    case AnswerForm::IPAddress:
        return length == 12 && hasDigits(data, length, true) && partsAreOctets(data);
    case AnswerForm::CommandCode:
        return (length == 2 || length == 4) && hasDigits(data, length, false);
    }
    return false;
}

Answer decode(const QByteArray &commandFrame, const QByteArray &response)
{
    int length = 0;
    const char *data = v640_get_response_parameter(response.constData(), &length);
    const FixedFields fields(data, length);
    Answer answer;
    answer.form = command(quint32(v640_get_command_code(commandFrame.constData()))).answer;
    answer.text = QLatin1String(data, length);
    switch (answer.form) {
    case AnswerForm::Free:
    case AnswerForm::Text:
    case AnswerForm::NoData:
    case AnswerForm::MacAddress:
        break;
    case AnswerForm::Pages:
        answer.pageMask = requestedPageMask(commandFrame);
        break;
    case AnswerForm::Firmware:
        // The minor part is hexadecimal: 0110 is 1.16.
        answer.values[0] = fields.decimal(0, 2);
        answer.values[1] = fields.hexadecimal(2, 2);
        break;
    case AnswerForm::Flag:
    case AnswerForm::NoiseLevel:
        answer.values[0] = fields.decimal(0, 2);
        break;
    case AnswerForm::IPAddress:
        for (int part = 0; part < 4; ++part) {
            answer.values[part] = fields.decimal(3 * part, 3);
        }
        break;
    case AnswerForm::CommandCode:
        answer.values[0] = text_to_hex(data, length);
        break;
    case AnswerForm::History:
        for (int counter = 0; counter < 3; ++counter) {
            answer.values[counter] = fields.hexadecimal(4 * counter, 4);
        }
        break;
    }
    return answer;
}

QByteArray concealed(const QByteArray &commandFrame)
{
    const int webPassword = 0xA2;
    int length = 0;
    const char *message = v640_get_message(commandFrame.constData(), &length);
    if (message == nullptr || v640_get_command_code(commandFrame.constData()) != webPassword) {
        return commandFrame;
    }
    // The same mask for every password, so that not even its length shows.
    const int codeLength = 2;
    QByteArray shown = commandFrame;
    shown.replace(int(message - commandFrame.constData()) + codeLength, length - codeLength,
                  "********");
    return shown;
}

quint32 requestedPageMask(const QByteArray &commandFrame)
{
    int length = 0;
    const char *message = v640_get_message(commandFrame.constData(), &length);
    // The mask follows the four characters of the read code.
    return FixedFields(message != nullptr && length > 4 ? message + 4 : nullptr, length - 4)
        .hexadecimal(0, 8);
}

} // namespace Commands

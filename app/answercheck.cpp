#include "answercheck.h"

#include "v640.h"

namespace AnswerCheck {

namespace {

const quint32 readCode = 0x0100;
const int pageDigits = 16;
// Page n is bit n + 1.
const quint32 pageBits = 0x7FFFC;

enum class Digits { Decimal, Hexadecimal };

// The data of a normal end, by command: one or two lengths and the digits they are made of.
struct AnswerForm
{
    quint32 code;
    int length;
    int otherLength;
    Digits digits;
};

const AnswerForm answerForms[] = {
    {0x1402, 4, 4, Digits::Hexadecimal},   // firmware version
    {0x1403, 12, 12, Digits::Hexadecimal}, // MAC address
    {0x1410, 2, 2, Digits::Decimal},       // DIP switch
    {0x1411, 12, 12, Digits::Decimal},     // IP addresses and masks
    {0x1412, 12, 12, Digits::Decimal},     {0x1413, 12, 12, Digits::Decimal},
    {0x1414, 12, 12, Digits::Decimal},     {0x1420, 2, 2, Digits::Decimal}, // memory status
    {0x1421, 2, 2, Digits::Decimal},                                        // antenna status
    {0x15, 2, 4, Digits::Hexadecimal},                                      // last command code
    {0x16, 12, 12, Digits::Hexadecimal}, // communications history
    {0x40, 2, 2, Digits::Decimal},       // noise level
};

bool hasDigits(const char *text, int length, Digits digits)
{
    if (length == 0) {
        return true;
    }
    return digits == Digits::Decimal ? text_is_dec(text, length) != 0
                                     : text_is_hex(text, length) != 0;
}

bool hasForm(const QByteArray &command, const QByteArray &response)
{
    const int code = v640_get_command_code(command.constData());
    int length = 0;
    const char *data = v640_get_response_parameter(response.constData(), &length);
    if (code == int(readCode)) {
        const int pages = population_count(requestedPageMask(command) & pageBits);
        return length == pages * pageDigits && hasDigits(data, length, Digits::Hexadecimal);
    }
    for (const AnswerForm &form : answerForms) {
        if (int(form.code) == code) {
            return (length == form.length || length == form.otherLength) &&
                   hasDigits(data, length, form.digits);
        }
    }
    return true; // free text, or a command without an answer of its own
}

} // namespace

Verdict judge(const QByteArray &command, const QByteArray &response, bool withForm)
{
    const char *frame = response.constData();
    const int responseCode = v640_get_response_code(frame);
    if (responseCode < 0) {
        return Verdict::NotAFrame;
    }
    if (frame[0] == '\x01' && v640_get_fcs(frame) != v640_calc_fcs(frame)) {
        return Verdict::WrongCheckSequence;
    }
    if (command.startsWith('\x01') && v640_get_node(frame) != v640_get_node(command.constData())) {
        return Verdict::WrongNode;
    }
    if (withForm && responseCode == 0 && !hasForm(command, response)) {
        return Verdict::WrongForm;
    }
    return Verdict::Valid;
}

const char *reason(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Valid:
        break;
    case Verdict::NotAFrame:
        return "not a frame with a known response code";
    case Verdict::WrongCheckSequence:
        return "wrong frame check sequence";
    case Verdict::WrongNode:
        return "answer from another node";
    case Verdict::WrongForm:
        return "data not in the form of the answer";
    }
    return "";
}

quint32 requestedPageMask(const QByteArray &command)
{
    int length = 0;
    const char *message = v640_get_message(command.constData(), &length);
    char mask[8];
    for (int i = 0; i < 8; ++i) {
        mask[i] = 4 + i < length ? message[4 + i] : ' ';
    }
    return text_to_hex(mask, 8);
}

} // namespace AnswerCheck

#ifndef VORSEL_COMMANDS_H
#define VORSEL_COMMANDS_H

#include <QByteArray>
#include <QLatin1String>
#include <QtGlobal>

// What each command is, in one place: the option that sends it, its code, how the option's value
// becomes the frame's parameter, the form of the unit's normal end, and how that decodes.
namespace Commands {

// How an operation turns its option value (and the tag data) into the parameter text.
enum class ValueForm {
    None,            // no parameter characters
    Pages,           // page mask
    PagesAndTagData, // page mask, then 16 digits of tag data per page
    PagesAndOnePage, // page mask, then 16 digits of tag data for every page
    AddressAndTagData,
    Verbatim, // the value, unchanged
    IPAddress,
};

// The data of a normal end.
enum class AnswerForm {
    Free,        // anything: codes without an answer of their own, or that no operation sends
    Text,        // any text, which is the value: a test's echo, the model number
    NoData,      // nothing: "00" alone acknowledges a write or a setting
    Pages,       // 16 hexadecimal digits per page asked for
    Firmware,    // major and minor: 2 decimal, then 2 hexadecimal digits
    MacAddress,  // 12 hexadecimal digits
    Flag,        // 2 decimal digits: zero or not
    IPAddress,   // 12 decimal digits, four parts of three, each 0 to 255
    CommandCode, // 2 or 4 hexadecimal digits
    History,     // 12 hexadecimal digits, three counters
    NoiseLevel,  // 2 decimal digits
};

struct Command
{
    quint32 code;
    const char *shortName; // null for none
    const char *option;    // null for a code that no operation sends
    const char *valueName; // null for an option without a value
    const char *description;
    ValueForm value;
    AnswerForm answer;
};

// Every command an operation sends, in the order the command line lists them.
extern const Command operations[];
extern const int operationCount;

// The command of a code; a code that no operation sends has a free answer.
const Command &command(quint32 code);

// A valid normal end, decoded once for every report. The text is a view into the response, so
// the answer is only good while the response lives unchanged.
struct Answer
{
    AnswerForm form = AnswerForm::Free;
    QLatin1String text;   // the response's parameter as it came
    quint32 pageMask = 0; // Pages: the pages asked for (page p is bit p + 1)
    // Firmware: major, minor. Flag, NoiseLevel, CommandCode: the value. IPAddress: the four
    // parts. History: total, successful, failed.
    quint32 values[4] = {};
};

// Whether a normal end's data has the form of the answer to the command, whose code is given.
bool hasAnswerForm(int code, const QByteArray &command, const QByteArray &response);
// The answer of a normal end. Positions the data lacks read as digit 0, so a short answer never
// makes a decoding read past its frame.
Answer decode(const QByteArray &command, const QByteArray &response);
// The frame as traces and causes show it: the characters of a web password replaced by a fixed
// mask, node digits and check sequence as they are. Other frames are shown as they are.
QByteArray concealed(const QByteArray &frame);
// The page mask of a read command: the 8 characters behind its code; missing ones count as 0.
quint32 requestedPageMask(const QByteArray &command);

} // namespace Commands

#endif

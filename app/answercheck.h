#ifndef VORSEL_ANSWERCHECK_H
#define VORSEL_ANSWERCHECK_H

#include <QByteArray>

// Whether a response is what the unit said to the command just sent: a frame with a known
// response code, from the node asked and sealed with its own check sequence, and, where the
// command's answer has a fixed form, in that form. Anything else is not a valid answer.
namespace AnswerCheck {

enum class Verdict {
    Valid,
    NotAFrame,          // not a frame, or a response code the unit does not give
    WrongCheckSequence, // an addressed frame whose FCS is not its own
    WrongNode,          // from another node than the one asked
    WrongForm,          // a normal end whose data does not have the form of the answer
    TwoAnswers,         // a second, different answer came within the exchange
    Repeated,           // the previous answer again, to another command, on a line in doubt
};

// The form of the data is judged with `withForm`, and always for a command whose normal end
// carries no data (anything behind "00" is no acknowledgement of it). The response code, -1 for
// none, goes to `responseCode` where one is given.
Verdict judge(const QByteArray &command, const QByteArray &response, bool withForm,
              int *responseCode = nullptr);

// Why an answer is not valid, in a few words.
const char *reason(Verdict verdict);

} // namespace AnswerCheck

#endif

#include "answercheck.h"

#include "commands.h"
#include "v640.h"

namespace AnswerCheck {

Verdict judge(const QByteArray &command, const QByteArray &response, bool withForm, int *code)
{
    const char *frame = response.constData();
    const int responseCode = v640_get_response_code(frame);
    if (code != nullptr) {
        *code = responseCode;
    }
    if (responseCode < 0) {
        return Verdict::NotAFrame;
    }
    if (frame[0] == '\x01' && v640_get_fcs(frame) != v640_calc_fcs(frame)) {
        return Verdict::WrongCheckSequence;
    }
    if (command.startsWith('\x01') && v640_get_node(frame) != v640_get_node(command.constData())) {
        return Verdict::WrongNode;
    }
    if (responseCode != 0) {
        return Verdict::Valid;
    }
    const int commandCode = v640_get_command_code(command.constData());
    if ((withForm ||
         Commands::command(quint32(commandCode)).answer == Commands::AnswerForm::NoData) &&
        !Commands::hasAnswerForm(commandCode, command, response)) {
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
    case Verdict::TwoAnswers:
        return "a second, different answer came";
    case Verdict::Repeated:
        return "the previous answer again";
    }
    return "";
}

} // namespace AnswerCheck

#include "consoleapplicationmain.h"

namespace {

// The frame as shown to a user: without SOH and CR; empty for anything that is not a frame.
QByteArray printableText(const QByteArray &frameBytes)
{
    int length = 0;
    const char *start = v640_get_printable(frameBytes.constData(), &length);
    char text[V640_MAX_FRAME_SIZE + 1] = "";
    text_copy(start, text, length);
    return QByteArray(text);
}

} // namespace

void ConsoleApplicationMain::reportV640Response()
{
    lastCommandText = printableText(lastCommand);
    lastResponseText = printableText(responseBuffer);

    switch (outputLevel) {
    case 1:
        outputStream << QString::fromLatin1(lastResponseText) << Qt::endl;
        break;
    case 2:
        outputStream << QString::fromLatin1(lastCommandText) << '\t'
                     << QString::fromLatin1(lastResponseText) << Qt::endl;
        break;
    default:
        reportHumanReadable();
        break;
    }

    if (errorAbort && v640_get_response_code(responseBuffer.constData()) != 0) {
        exitCommander(V640ResponseError);
    }
}

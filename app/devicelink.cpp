#include "consoleapplicationmain.h"

#include <QSocketNotifier>
#include <QTextCodec>

bool ConsoleApplicationMain::openV640Device()
{
    return engine.openLink(&linkFailureReason);
}

void ConsoleApplicationMain::closeV640Device()
{
    engine.closeLink();
}

void ConsoleApplicationMain::linkOpened(Link *link)
{
    device = link->device();
    connect(device, &QIODevice::readyRead, this, &ConsoleApplicationMain::reciveV640Response);
    connect(link, &Link::failed, this, &ConsoleApplicationMain::networkError);
    // Frames over TCP carry no node number.
    if (!link->isSerialLine()) {
        nodeNumber = 0;
    }
}

void ConsoleApplicationMain::sendV640Command()
{
    if (outputFailed()) {
        return;
    }
    const int size = v640_frame_size(frame);
    if (size <= 0) {
        exitCommander(InvalidParameter);
        return;
    }
    ExchangeRequest request = production.request(QByteArray(frame, size), engine.clockTime());
    // The raw levels show the traffic as it came; the readable forms show only what the unit
    // really said to this command.
    request.formDecides |= readableLevel();
    engine.start(request);
}

void ConsoleApplicationMain::reciveV640Response()
{
    engine.receive();
}

void ConsoleApplicationMain::responseTimeout()
{
    engine.timerExpired();
}

void ConsoleApplicationMain::networkError(QAbstractSocket::SocketError)
{
    engine.linkFailed();
}

void ConsoleApplicationMain::exchangeEnded(const ExchangeRecord &ended)
{
    report(ended);
    if (outputFailed()) {
        return;
    }
    if (ended.linkLost) {
        exitCommander(CommunicationError);
    }
    switch (ended.outcome) {
    case ExchangeOutcome::LinkFailed:
        return;
    case ExchangeOutcome::Interrupted:
        exitCommander(Interrupted);
        return;
    case ExchangeOutcome::Timeout:
        // A one-shot run that got no answer must not report success; a scan goes on to the next
        // node.
        if (oneShot != 0 && production.purpose() != ProductionRun::Purpose::Probe) {
            endRun(CommunicationError);
            return;
        }
        break;
    case ExchangeOutcome::UnitError:
    case ExchangeOutcome::InvalidAnswer:
        // A verified write succeeds only when what was meant to be written was read back.
        if (errorAbort || production.verifiesWrite()) {
            endRun(V640ResponseError);
        }
        break;
    case ExchangeOutcome::Ok:
    case ExchangeOutcome::NotSent:
        break;
    }
    next();
}

void ConsoleApplicationMain::next()
{
    if (outputFailed()) {
        return;
    }
    if (oneShot != 0) {
        // A run of several frames goes on; the error-abort has ended it already.
        const QByteArray following = ending ? QByteArray() : production.advance();
        if (!following.isEmpty()) {
            setFrame(following);
            sendV640Command();
            return;
        }
        finishRun();
        return;
    }
    awaitLine();
    // Lines read ahead bring no new notification.
    takeLines();
}

void ConsoleApplicationMain::finishRun()
{
    switch (production.result()) {
    case ProductionRun::Result::Done: {
        const QString problem = ending || production.dumpName().isEmpty()
                                    ? QString()
                                    : productionReport.writeDump(production.dumpImage());
        if (!problem.isEmpty()) {
            diagnostics.say(QStringLiteral("cannot write the image to '%1': %2")
                                .arg(production.dumpName(), problem));
            exitCommander(Error);
            return;
        }
        endRun(NoError);
        break;
    }
    case ProductionRun::Result::Mismatch:
        endRun(VerifyMismatch);
        break;
    case ProductionRun::Result::NoneAnswered:
        endRun(CommunicationError);
        break;
    case ProductionRun::Result::NotWritten:
        diagnostics.say(QStringLiteral("no image written: the tag was not read whole"));
        endRun(Error);
        break;
    }
}

void ConsoleApplicationMain::endRun(ExitStatus status)
{
    // No further frame or line; the next program on a serial line must not receive what this
    // run was owed, so the run ends once the line is quiet.
    ending = true;
    if (status != NoError) {
        exitStatus = status;
    }
    if (!engine.settle()) {
        exitCommander(NoError);
    }
}

void ConsoleApplicationMain::awaitLine()
{
    lineAwaited = true;
    // Enabled already, unless the lines read ahead filled their room.
    stdinNotifier->setEnabled(standardInput.hasRoom());
    outputStream << prompt;
    outputStream.flush();
    outputFailed();
}

bool ConsoleApplicationMain::outputFailed()
{
    // Results or a trace that cannot be written (a full disk, a reader gone) must not be followed
    // by more commands to the unit: nobody would learn what they did.
    if (outputStream.status() != QTextStream::Ok) {
        diagnostics.say(QStringLiteral("cannot write the results to standard output"));
    } else if (!trace.failed()) {
        return false;
    }
    exitCommander(Error);
    return true;
}

void ConsoleApplicationMain::setFrame(const QByteArray &bytes)
{
    text_copy(bytes.constData(), frame, V640_MAX_FRAME_SIZE);
    // A scan addresses node after node: the causes and the trace name the one asked.
    if (frame[0] == '\x01') {
        nodeNumber = v640_get_node(frame);
        engine.setLinkName(linkTarget.linkName(nodeNumber));
    }
}

void ConsoleApplicationMain::filter()
{
    if (ending) {
        return;
    }
    // Standard input is readable. What comes is read ahead while an exchange runs, so that the
    // next line is at hand when the exchange ends, within a bound.
    standardInput.receive();
    if (!standardInput.hasRoom()) {
        stdinNotifier->setEnabled(false);
    }
    takeLines();
}

void ConsoleApplicationMain::takeLines()
{
    // A line is taken only while one is awaited, and never once the run is ending; lines that
    // build no frame are taken in this loop rather than one call deeper each.
    while (lineAwaited && !ending && standardInput.hasPendingInput()) {
        lineAwaited = false;
        if (!standardInput.takeLine(&inputLine)) {
            // The session's status tells the worst that happened to any of its lines.
            if (sessionStatus.anyUnanswered()) {
                endRun(CommunicationError);
            } else {
                endRun(sessionStatus.anyRefused() ? InvalidParameter : NoError);
            }
            return;
        }
        // A CR LF line end is a line end.
        if (inputLine.endsWith('\r')) {
            inputLine.chop(1);
        }
        if (!buildLineCommand()) {
            sendV640Command();
            return;
        }
        ExchangeRecord refused;
        refused.outcome = ExchangeOutcome::NotSent;
        refused.reason = Diagnostics::lineRefusal(inputStream.codec()->toUnicode(inputLine));
        // An empty line is only skipped; any other line that builds no frame is not sent. Only
        // the report that pairs objects with lines sees a skipped one.
        if (!inputLine.isEmpty()) {
            report(refused);
        } else if (jsonReport.isEnabled()) {
            jsonReport.write(outputStream, refused);
        }
        // The prompt comes back.
        awaitLine();
    }
}

bool ConsoleApplicationMain::buildLineCommand()
{
    // Printable ASCII goes into the frame as it came; anything else as the locale decodes it,
    // so that a frame carries the characters typed or nothing.
    for (const char byte : qAsConst(inputLine)) {
        if (static_cast<unsigned char>(byte) >= 0x80 || byte == '\r') {
            return buildV640Command(inputStream.codec()->toUnicode(inputLine));
        }
    }
    return buildFrame(inputLine.constData(), inputLine.size());
}

QByteArray ConsoleApplicationMain::toFrameBytes(const QString &text)
{
    // A frame must carry the text as it was typed or not at all. Latin-1 turns a character it
    // cannot hold into '?', and a CR would end the frame early and drop the rest: both become a
    // byte that no frame accepts, so the frame fails instead.
    QByteArray bytes = text.toLatin1();
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i).unicode() > 0xFF || text.at(i) == QLatin1Char('\r')) {
            bytes[i] = '\xFF';
        }
    }
    return bytes;
}

bool ConsoleApplicationMain::buildV640Command(const QString &message)
{
    // Longer than any frame: nothing to convert. A character Latin-1 cannot hold, or a CR,
    // becomes a byte that no frame accepts (see toFrameBytes).
    if (message.size() > V640_MAX_FRAME_SIZE) {
        return true;
    }
    char bytes[V640_MAX_FRAME_SIZE];
    for (int i = 0; i < message.size(); ++i) {
        const ushort character = message.at(i).unicode();
        bytes[i] = character > 0xFF || character == '\r' ? '\xFF' : char(character);
    }
    return buildFrame(bytes, message.size());
}

bool ConsoleApplicationMain::buildFrame(const char *message, int length)
{
    return v640_init_frame(frame, V640_MAX_FRAME_SIZE, nodeNumber == 0) != 0 ||
           v640_set_node(frame, static_cast<unsigned int>(nodeNumber)) != 0 ||
           v640_set_message(frame, message, length) != 0 ||
           v640_set_fcs(frame, static_cast<unsigned int>(v640_calc_fcs(frame))) != 0;
}

#include "controlinterpreter.h"

#include "hextext.h"
#include "simulator.h"

namespace {

constexpr qint64 largestFlood = 1000000000;

QByteArray errorReply(const QString &reason)
{
    return "error " + reason.toLatin1();
}

// The words of a line, separated by one or more spaces.
QList<QByteArray> wordsOf(const QByteArray &line)
{
    QList<QByteArray> words;
    for (const QByteArray &word : line.split(' ')) {
        if (!word.isEmpty()) {
            words.append(word);
        }
    }
    return words;
}

bool decodeSingleHex(const QList<QByteArray> &words, QByteArray *bytes)
{
    return words.size() == 2 && HexText::decode(words.at(1), bytes) && !bytes->isEmpty();
}

} // namespace

ControlInterpreter::ControlInterpreter(Simulator *simulator) : simulator(simulator) {}

QByteArray ControlInterpreter::execute(const QByteArray &line)
{
    const QList<QByteArray> words = wordsOf(line);
    if (words.isEmpty()) {
        return "error empty command";
    }
    const QByteArray &command = words.first();
    if (command == "fault") {
        return fault(words);
    }
    if (command == "faults" && words.size() == 1) {
        return "ok " + simulator->faults().summary();
    }
    if (command == "respond") {
        return respond(words);
    }
    if (command == "flood") {
        return flood(words);
    }
    if (command == "send") {
        return send(words);
    }
    if (command == "received" && words.size() == 1) {
        return "ok " + HexText::encode(simulator->receivedBytes());
    }
    if (command == "clear-received" && words.size() == 1) {
        simulator->clearReceived();
        return "ok";
    }
    if (command == "line" && (words.size() == 1 || (words.size() == 2 && words.at(1) == "now"))) {
        const QByteArray settings = simulator->lineSettings(words.size() == 2);
        return settings.isEmpty() ? QByteArray("error no pty or serial device") : "ok " + settings;
    }
    if (command == "set") {
        // The value is the rest of the line as it stands, spaces included.
        QByteArray arguments = line.mid(line.indexOf("set") + 3);
        while (arguments.startsWith(' ')) {
            arguments.remove(0, 1);
        }
        return setField(arguments);
    }
    if (command == "get") {
        return getField(words);
    }
    if (command == "page") {
        return setPage(words);
    }
    if (command == "state" && words.size() == 1) {
        return "ok " + simulator->state().summary();
    }
    if (command == "quit" && words.size() == 1) {
        simulator->quit();
        return "ok";
    }
    if (!HexText::isPrintable(command) || command.size() > 40) {
        return "error unknown command";
    }
    return "error unknown command or arguments: " + command;
}

QByteArray ControlInterpreter::fault(const QList<QByteArray> &words)
{
    if (words.size() < 2) {
        return "error fault needs a name";
    }
    QString reason;
    if (!simulator->faults().apply(words.at(1), words.mid(2), &reason)) {
        return errorReply(reason);
    }
    if (words.at(1) == "clear") {
        simulator->dropOverride();
    }
    simulator->faultsChanged();
    return "ok";
}

QByteArray ControlInterpreter::respond(const QList<QByteArray> &words)
{
    OutputJob job;
    if (!decodeSingleHex(words, &job.bytes)) {
        return "error respond takes hex digits";
    }
    simulator->overrideNextResponse(job);
    return "ok";
}

QByteArray ControlInterpreter::flood(const QList<QByteArray> &words)
{
    OutputJob job;
    if (words.size() != 2 || !HexText::parseCount(words.at(1), largestFlood, &job.fillCount) ||
        job.fillCount == 0) {
        return errorReply(QStringLiteral("flood takes a count, 1 to %1").arg(largestFlood));
    }
    simulator->overrideNextResponse(job);
    return "ok";
}

QByteArray ControlInterpreter::send(const QList<QByteArray> &words)
{
    QByteArray bytes;
    if (!decodeSingleHex(words, &bytes)) {
        return "error send takes hex digits";
    }
    if (simulator->sendUnsolicited(bytes) == 0) {
        return "error no program connected";
    }
    return "ok";
}

QByteArray ControlInterpreter::setField(const QByteArray &arguments)
{
    const int space = arguments.indexOf(' ');
    const QByteArray name = space < 0 ? arguments : arguments.left(space);
    const QByteArray value = space < 0 ? QByteArray() : arguments.mid(space + 1);
    QString reason;
    if (!simulator->state().setField(name, value, &reason)) {
        return errorReply(reason);
    }
    simulator->stateChanged();
    return "ok";
}

QByteArray ControlInterpreter::getField(const QList<QByteArray> &words)
{
    QByteArray value;
    if (words.size() != 2 || !simulator->state().field(words.at(1), &value)) {
        return "error get takes one field name";
    }
    return "ok " + value;
}

QByteArray ControlInterpreter::setPage(const QList<QByteArray> &words)
{
    bool numeric = false;
    const int page =
        words.size() == 3 && HexText::isDecimal(words.at(1)) ? words.at(1).toInt(&numeric) : -1;
    QString reason;
    if (!numeric) {
        return "error page takes N HEX16";
    }
    if (!simulator->state().setPage(page, words.at(2), &reason)) {
        return errorReply(reason);
    }
    simulator->stateChanged();
    return "ok";
}

#include "consoleapplicationmain.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

const quint16 unitPort = 7090;

// One byte past the longest frame: enough to tell that a response without an early CR is not
// a frame, whatever else it holds.
const int responseLimit = V640_MAX_FRAME_SIZE + 1;

// Bounds the discarding of stale input, so that a peer that never stops sending cannot keep a
// send from happening.
const qint64 discardLimit = 64 * 1024 * 1024;

// Qt reads what the system holds for a link into a buffer of its own; bounded, so that an
// endless stream costs no more than this.
const qint64 readBufferSize = 64 * 1024;

// The file a serial port name stands for, as the serial port resolves it.
QString serialDeviceLocation(const QString &name)
{
    const bool isPath = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
                        name.startsWith(QLatin1String("../"));
    return isPath ? name : QLatin1String("/dev/") + name;
}

bool namesFile(const QString &target)
{
    return QFileInfo::exists(serialDeviceLocation(target));
}

QString parityName(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return QStringLiteral("even parity");
    case QSerialPort::OddParity:
        return QStringLiteral("odd parity");
    default:
        return QStringLiteral("no parity");
    }
}

QString flowControlName(QSerialPort::FlowControl flowControl)
{
    switch (flowControl) {
    case QSerialPort::HardwareControl:
        return QStringLiteral("hardware flow control");
    case QSerialPort::SoftwareControl:
        return QStringLiteral("software flow control");
    default:
        return QStringLiteral("no flow control");
    }
}

int nativeDescriptor(QIODevice *device)
{
    if (auto *socket = qobject_cast<QTcpSocket *>(device)) {
        return static_cast<int>(socket->socketDescriptor());
    }
    if (auto *port = qobject_cast<QSerialPort *>(device)) {
        return port->handle();
    }
    return -1;
}

} // namespace

QString ConsoleApplicationMain::linkName() const
{
    if (!namesFile(target)) {
        return QStringLiteral("%1:%2").arg(target).arg(unitPort);
    }
    return nodeNumber == 0 ? target : QStringLiteral("%1 node %2").arg(target).arg(nodeNumber);
}

QString ConsoleApplicationMain::linkSettings() const
{
    if (!namesFile(target)) {
        return QStringLiteral("target %1 over TCP (frames without node number), time-out %2 ms")
            .arg(linkName())
            .arg(timeoutInterval);
    }
    return QStringLiteral("target %1, serial port at %2 baud, %3 data bits, %4, %5 stop bit(s), "
                          "%6, node %7, time-out %8 ms")
        .arg(target)
        .arg(serialSetting.baudRate())
        .arg(serialSetting.dataBits())
        .arg(parityName(serialSetting.parity()))
        .arg(serialSetting.stopBits())
        .arg(flowControlName(serialSetting.flowControl()))
        .arg(nodeNumber == 0 ? QStringLiteral("0 (frames without node number)")
                             : QString::number(nodeNumber))
        .arg(timeoutInterval);
}

bool ConsoleApplicationMain::openV640Device()
{
    trace.setLink(linkName());
    // A name that stands for a file is a serial port and nothing else: looking it up as a host
    // would only hide why the port did not open. Host names go straight to TCP, without the
    // lock file that opening a serial port takes.
    if (namesFile(target)) {
        auto *port = new QSerialPort;
        connect(port, &QSerialPort::readyRead, this, &ConsoleApplicationMain::reciveV640Response);
        port->setPortName(target);
        port->setBaudRate(serialSetting.baudRate());
        port->setParity(serialSetting.parity());
        port->setDataBits(serialSetting.dataBits());
        port->setStopBits(serialSetting.stopBits());
        port->setFlowControl(serialSetting.flowControl());
        port->setReadBufferSize(readBufferSize);
        if (!port->open(QIODevice::ReadWrite)) {
            linkFailureReason = Diagnostics::serialPortFailure(*port, target);
            delete port;
            return false;
        }
        // Connected only now: failures while opening are told by the result. A hang-up (an
        // adapter unplugged, the peer gone) would otherwise wake the event loop for ever.
        connect(port, &QSerialPort::errorOccurred, this,
                [this, port](QSerialPort::SerialPortError error) {
                    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) {
                        return;
                    }
                    const QString reason = Diagnostics::serialPortFailure(*port, target);
                    if (!retryExchange(reason)) {
                        failed(ExchangeOutcome::LinkFailed, reason);
                        exitCommander(CommunicationError);
                    }
                });
        device = port;
        trace.opened();
        // What a serial line received before this program opened it is stale, in either mode.
        discardPendingInput();
        return true;
    }

    auto *socket = new QTcpSocket;
    socket->setReadBufferSize(readBufferSize);
    connect(socket, &QTcpSocket::readyRead, this, &ConsoleApplicationMain::reciveV640Response);
    connect(socket, &QAbstractSocket::errorOccurred, this, &ConsoleApplicationMain::networkError);
    socket->connectToHost(target, unitPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (socket->waitForConnected(timeoutInterval)) {
        device = socket;
        nodeNumber = 0;
        trace.opened();
        return true;
    }
    linkFailureReason = Diagnostics::socketFailure(*socket, linkName(), timeoutInterval);
    delete socket;
    return false;
}

void ConsoleApplicationMain::closeV640Device()
{
    if (device != nullptr) {
        trace.closed();
        device->close();
        disconnect(device, nullptr, this, nullptr);
        // This may run inside the link's own signal.
        device->deleteLater();
        device = nullptr;
    }
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
            resendV640Command();
            return;
        }
        switch (production.result()) {
        case ProductionRun::Result::Done:
            exitCommander(NoError);
            break;
        case ProductionRun::Result::Mismatch:
            exitCommander(VerifyMismatch);
            break;
        case ProductionRun::Result::NoneAnswered:
            exitCommander(CommunicationError);
            break;
        case ProductionRun::Result::NotWritten:
            exitCommander(Error);
            break;
        }
        return;
    }
    awaitLine();
    // Lines that arrived together with the last one bring no new notification.
    if (!ending && standardInput.hasPendingInput()) {
        filter();
    }
}

void ConsoleApplicationMain::awaitLine()
{
    stdinNotifier->setEnabled(true);
    outputStream << prompt;
    outputStream.flush();
    outputFailed();
}

bool ConsoleApplicationMain::outputFailed()
{
    // Results that cannot be written (a full disk, a reader gone) must not be followed by more
    // commands to the unit: nobody would learn what they did.
    if (outputStream.status() == QTextStream::Ok) {
        return false;
    }
    diagnostics.say(QStringLiteral("cannot write the results to standard output"));
    exitCommander(Error);
    return true;
}

void ConsoleApplicationMain::exchangeEnded(ExchangeOutcome outcome, const QString &reason)
{
    sessionStatus.record(outcome);
    if (jsonReport.isEnabled()) {
        const bool answered = outcome == ExchangeOutcome::Ok ||
                              outcome == ExchangeOutcome::UnitError ||
                              outcome == ExchangeOutcome::InvalidAnswer;
        jsonReport.exchangeEnded(outputStream, outcome, reason,
                                 answered ? responseBuffer : QByteArray(),
                                 production.countsAttempts() ? production.attempts() : 0);
    }
    production.exchangeEnded(outcome, responseBuffer);
}

void ConsoleApplicationMain::failed(ExchangeOutcome outcome, const QString &reason)
{
    diagnostics.say(reason);
    exchangeEnded(outcome, reason);
}

bool ConsoleApplicationMain::retryExchange(const QString &reason)
{
    // Only an exchange in progress is tried again; a link lost while none is ends the run.
    if (!responseTimer.isActive() || !production.retries(reason)) {
        return false;
    }
    responseTimer.stop();
    closeV640Device();
    return true;
}

void ConsoleApplicationMain::setFrame(const QByteArray &bytes)
{
    text_copy(bytes.constData(), frame, V640_MAX_FRAME_SIZE);
    // A scan addresses node after node: the causes and the trace name the one asked.
    if (frame[0] == '\x01') {
        nodeNumber = v640_get_node(frame);
        trace.setLink(linkName());
    }
}

void ConsoleApplicationMain::filter()
{
    // A line is taken only while one is awaited, and never once the run is ending.
    if (ending || stdinNotifier == nullptr || !stdinNotifier->isEnabled()) {
        return;
    }
    // Half a line waits for the rest without holding up the link's events.
    if (!standardInput.hasPendingInput() && !standardInput.receive()) {
        return;
    }
    forever
    {
        stdinNotifier->setEnabled(false);
        const QString line = inputStream.readLine();
        if (line.isEmpty() && inputStream.atEnd()) {
            // The session's status tells the worst that happened to any of its lines.
            if (sessionStatus.anyUnanswered()) {
                exitCommander(CommunicationError);
            } else {
                exitCommander(sessionStatus.anyRefused() ? InvalidParameter : NoError);
            }
            return;
        }
        if (!buildV640Command(line)) {
            break;
        }
        // An empty line is only skipped; any other line that builds no frame is not sent.
        if (!line.isEmpty()) {
            failed(ExchangeOutcome::NotSent, Diagnostics::lineRefusal(line));
        } else if (jsonReport.isEnabled()) {
            // Skipped rather than refused: only the report that pairs objects with lines sees it.
            jsonReport.exchangeEnded(outputStream, ExchangeOutcome::NotSent,
                                     Diagnostics::lineRefusal(line), QByteArray());
        }
        // The prompt comes back; the next line, if it is already here, is taken in this loop
        // rather than one call deeper per bad line.
        awaitLine();
        if (ending || !standardInput.hasPendingInput()) {
            return;
        }
    }
    // After a time-out whose reconnection failed there is no link: try once more.
    if (device == nullptr && !openV640Device()) {
        failed(ExchangeOutcome::LinkFailed, linkFailureReason);
        exitCommander(CommunicationError);
        return;
    }
    sendV640Command();
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
    const QByteArray bytes = toFrameBytes(message);
    return v640_init_frame(frame, V640_MAX_FRAME_SIZE, nodeNumber == 0) != 0 ||
           v640_set_node(frame, static_cast<unsigned int>(nodeNumber)) != 0 ||
           v640_set_message(frame, bytes.constData(), message.size()) != 0 ||
           v640_set_fcs(frame, static_cast<unsigned int>(v640_calc_fcs(frame))) != 0;
}

void ConsoleApplicationMain::discardPendingInput()
{
    QByteArray stale = device->readAll();
    // Bytes the operating system holds for the link are pending too: they may have been queued
    // before this program started.
    const int descriptor = nativeDescriptor(device);
    char chunk[4096];
    qint64 discarded = 0;
    pollfd readable = {descriptor, POLLIN, 0};
    while (descriptor >= 0 && discarded < discardLimit && poll(&readable, 1, 0) > 0 &&
           (readable.revents & POLLIN) != 0) {
        const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
        if (count <= 0) {
            break;
        }
        if (stale.size() < responseLimit) {
            stale.append(chunk, static_cast<int>(count));
        }
        discarded += count;
    }
    if (!stale.isEmpty()) {
        trace.discarded(stale);
    }
}

void ConsoleApplicationMain::sendV640Command()
{
    if (device == nullptr) {
        return;
    }
    responseBuffer.clear();
    discardPendingInput();
    const int size = v640_frame_size(frame);
    if (size <= 0) {
        exitCommander(InvalidParameter);
        return;
    }
    if (device->write(frame, size) != size) {
        exitCommander(CommunicationError);
        return;
    }
    lastCommand = QByteArray(frame);
    production.frameSent();
    trace.sent(lastCommand, production.attempts());
    jsonReport.commandSent(lastCommand);
    responseTimer.start();
    // Hand the frame to the system now rather than on the event loop's next pass. Last, because
    // a link that fails here ends the run at once.
    if (auto *socket = qobject_cast<QTcpSocket *>(device)) {
        socket->flush();
    } else if (auto *port = qobject_cast<QSerialPort *>(device)) {
        port->flush();
    }
}

void ConsoleApplicationMain::takeResponseBytes(const char *data, qint64 count)
{
    // Bytes that no outstanding command asked for are nobody's answer. Once a CR is held the
    // outcome is decided: complete, or never (a CR at index 0).
    if (!responseTimer.isActive() || responseBuffer.contains('\r')) {
        trace.discarded(
            QByteArray::fromRawData(data, static_cast<int>(qMin<qint64>(count, responseLimit))));
        return;
    }
    if (responseBuffer.isEmpty()) {
        // An answer begins at its first character: line feeds of the previous answer's CR LF
        // are not part of it, and an addressed answer begins at SOH.
        const char *start = data;
        if (lastCommand.startsWith('\x01')) {
            start = static_cast<const char *>(memchr(data, '\x01', count));
        } else {
            while (start < data + count && *start == '\n') {
                ++start;
            }
        }
        if (start == nullptr || start == data + count) {
            trace.discarded(QByteArray::fromRawData(
                data, static_cast<int>(qMin<qint64>(count, responseLimit))));
            return;
        }
        if (start != data) {
            trace.discarded(QByteArray::fromRawData(data, static_cast<int>(start - data)));
        }
        count -= start - data;
        data = start;
    }
    const char *carriageReturn = static_cast<const char *>(memchr(data, '\r', count));
    const qint64 wanted = carriageReturn != nullptr ? carriageReturn - data + 1 : count;
    const qint64 room = responseLimit - responseBuffer.size();
    if (wanted < count) {
        trace.discarded(QByteArray::fromRawData(
            carriageReturn + 1, static_cast<int>(qMin<qint64>(count - wanted, responseLimit))));
    }
    if (wanted <= room) {
        responseBuffer.append(data, static_cast<int>(wanted));
        return;
    }
    // Too long to be a frame: keep what shows that, and the CR that completes it.
    responseBuffer.append(data, static_cast<int>(qMax<qint64>(room, 0)));
    if (carriageReturn != nullptr) {
        responseBuffer.append('\r');
    }
}

void ConsoleApplicationMain::reciveV640Response()
{
    if (device == nullptr) {
        return;
    }
    char chunk[4096];
    qint64 count;
    while ((count = device->read(chunk, sizeof chunk)) > 0) {
        takeResponseBytes(chunk, count);
    }
    if (responseBuffer.indexOf('\r') < 1) {
        return;
    }
    responseTimer.stop();
    trace.answered(responseBuffer);
    // A response is reported once: whatever comes next begins a new one.
    if (!production.repeats(lastCommand, responseBuffer)) {
        reportV640Response();
        responseBuffer.clear();
        next();
        return;
    }
    responseBuffer.clear();
}

void ConsoleApplicationMain::responseTimeout()
{
    trace.timedOut(timeoutInterval, responseBuffer);
    const QString reason =
        QStringLiteral("no answer from %1 within %2 ms").arg(linkName()).arg(timeoutInterval);
    // Another attempt, and a scan's next node, go out over the same link: nothing shows it
    // broken, and a serial adapter may reset what it drives when its port is opened.
    if (production.retries(reason)) {
        return;
    }
    failed(ExchangeOutcome::Timeout, reason);
    if (oneShot != 0 && production.passesOverSilence()) {
        next();
        return;
    }
    closeV640Device();
    if (oneShot != 0) {
        // A one-shot run that got no answer must not report success.
        exitCommander(CommunicationError);
        return;
    }
    if (!openV640Device()) {
        diagnostics.say(QStringLiteral("cannot reopen the link: ") + linkFailureReason);
    }
    next();
}

void ConsoleApplicationMain::resendV640Command()
{
    if (ending) {
        return;
    }
    // A failure closed the link: it is opened anew, and failing that is one more failed attempt.
    if (device == nullptr && !openV640Device()) {
        if (!production.retries(linkFailureReason)) {
            failed(ExchangeOutcome::LinkFailed, linkFailureReason);
            exitCommander(CommunicationError);
        }
        return;
    }
    sendV640Command();
}

void ConsoleApplicationMain::networkError(QAbstractSocket::SocketError)
{
    // Inside the connection wait there is no link yet: the opening tells what went wrong, and
    // when it is another attempt's, a failure leaves it to the attempts that are left.
    auto *socket = qobject_cast<QAbstractSocket *>(device);
    if (socket == nullptr && production.retrying()) {
        return;
    }
    if (socket != nullptr) {
        const QString reason = Diagnostics::socketFailure(*socket, linkName(), timeoutInterval);
        if (retryExchange(reason)) {
            return;
        }
        failed(ExchangeOutcome::LinkFailed, reason);
    }
    exitCommander(CommunicationError);
}

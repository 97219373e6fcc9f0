#include "links.h"

#include "v640.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 socketReadBufferBytes = 64 * 1024;
// Bytes handed to a socket or serial port but not yet sent; beyond this, output waits.
constexpr qint64 mostUnsentBytes = 1024 * 1024;
// What a program may leave unread in the simulator before it is dropped: ample for any run of
// commands a program waits for, small against the memory of the machine.
constexpr qint64 mostQueuedBytes = 1024 * 1024;
constexpr int mostQueuedJobs = 10000;
// Standard output or error that nobody reads holds at most this much.
constexpr int mostPendingOutput = 1024 * 1024;
// Large enough to keep a link busy, small enough to stay responsive between chunks.
constexpr qint64 chunkSize = 64 * 1024;

const QByteArray &fillChunk()
{
    static const QByteArray chunk(chunkSize, 'A');
    return chunk;
}

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

// Whether a simulator still serves on the pty that a link points to: it holds a lock on it.
// Nothing but a pty is opened to find out; one that a program holds exclusively is in use too.
bool ptyInUse(const QString &path)
{
    if (!path.startsWith(QLatin1String("/dev/pts/"))) {
        return false;
    }
    const int fd = ::open(QFile::encodeName(path), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EBUSY;
    }
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

} // namespace

void BoundedTcpServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setReadBufferSize(socketReadBufferBytes);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    addPendingConnection(socket);
}

LineOutput::LineOutput(int fd) : fd(fd) {}

void LineOutput::write(const QByteArray &line)
{
    if (gone || pending.size() - offset > mostPendingOutput) {
        ++dropped;
        return;
    }
    pending += line + '\n';
    flush();
}

void LineOutput::flush()
{
    while (!gone && offset < pending.size()) {
        // Whatever poll finds writable takes PIPE_BUF bytes without blocking; the descriptor
        // stays blocking, as whoever shares it expects.
        pollfd descriptor{fd, POLLOUT, 0};
        if (poll(&descriptor, 1, 0) != 1) {
            break;
        }
        const ssize_t written =
            ::write(fd, pending.constData() + offset,
                    static_cast<size_t>(qMin(pending.size() - offset, PIPE_BUF)));
        if (written > 0) {
            offset += static_cast<int>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            gone = true;
            dropped += pending.mid(offset).count('\n');
        } else if (written == 0 || errno == EAGAIN) {
            break;
        }
    }
    if (gone || offset == pending.size()) {
        pending.clear();
        offset = 0;
    } else if (offset > mostPendingOutput) {
        pending.remove(0, offset);
        offset = 0;
    }
    if (!pending.isEmpty() && notifier == nullptr) {
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        connect(notifier.get(), &QSocketNotifier::activated, this, &LineOutput::flush);
    }
    if (notifier != nullptr) {
        notifier->setEnabled(!pending.isEmpty());
    }
}

OutputQueue::OutputQueue(Writer writer, std::function<void()> closer)
    : writer(std::move(writer)), closer(std::move(closer))
{
    timer.setSingleShot(true);
    // A coarse timer may fire up to 5% early: a delay or pause must last at least as asked.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &OutputQueue::pump);
}

void OutputQueue::append(const OutputJob &job)
{
    jobs.append(job);
    queued += job.bytes.size();
    pump();
}

void OutputQueue::clear()
{
    jobs.clear();
    queued = 0;
    timer.stop();
    finishJob();
}

bool OutputQueue::dropFloods()
{
    const auto isFlood = [](const OutputJob &job) { return job.fillCount > 0; };
    if (std::none_of(jobs.begin(), jobs.end(), isFlood)) {
        return false;
    }
    const bool current = isFlood(jobs.first());
    if (current) {
        jobs.removeFirst();
        timer.stop();
        finishJob();
    }
    jobs.erase(std::remove_if(jobs.begin(), jobs.end(), isFlood), jobs.end());
    queued = 0;
    for (const OutputJob &job : jobs) {
        queued += job.bytes.size();
    }
    if (current) {
        pump();
    }
    return true;
}

void OutputQueue::finishJob()
{
    position = 0;
    pieceRemaining = 0;
    delayDone = false;
    pauseDone = false;
}

// A writer or closer may come back here (a closed socket clears the queue, a new client's
// frames append to it); the nested call only asks for one more round.
void OutputQueue::pump()
{
    if (pumping) {
        pumpAgain = true;
        return;
    }
    pumping = true;
    do {
        pumpAgain = false;
        pumpOnce();
    } while (pumpAgain);
    pumping = false;
}

void OutputQueue::pumpOnce()
{
    while (!jobs.isEmpty() && !timer.isActive()) {
        OutputJob &job = jobs.first();
        if (!delayDone) {
            delayDone = true;
            if (job.delayMs > 0) {
                timer.start(job.delayMs);
                return;
            }
        }
        if (job.closeConnection) {
            jobs.removeFirst();
            finishJob();
            closer();
            continue;
        }
        const qint64 total = job.bytes.size() + job.fillCount;
        while (position < total) {
            if (pieceRemaining == 0) {
                if (position > 0 && job.pieceSize > 0 && !pauseDone) {
                    pauseDone = true;
                    timer.start(job.pauseMs);
                    return;
                }
                pauseDone = false;
                pieceRemaining = job.pieceSize > 0 ? qMin<qint64>(job.pieceSize, total - position)
                                                   : total - position;
            }
            const qint64 bytesSize = job.bytes.size();
            const bool fill = position >= bytesSize;
            const char *data = fill ? fillChunk().constData() : job.bytes.constData() + position;
            const qint64 size =
                qMin(qMin(pieceRemaining, fill ? pieceRemaining : bytesSize - position), chunkSize);
            const qint64 written = writer(data, size);
            if (written < 0) {
                clear();
                return;
            }
            position += written;
            pieceRemaining -= written;
            if (written < size) {
                return;
            }
        }
        queued -= job.bytes.size();
        jobs.removeFirst();
        finishJob();
    }
}

ProgramLink::ProgramLink()
    : output([this](const char *data, qint64 size) { return writeNow(data, size); },
             [this]() { closeConnection(); })
{
}

void ProgramLink::send(const OutputJob &job)
{
    if (output.queuedBytes() > mostQueuedBytes || output.queuedJobs() > mostQueuedJobs) {
        emit notice(dropPeer() + " left more than " + QByteArray::number(mostQueuedBytes) +
                    " bytes or " + QByteArray::number(mostQueuedJobs) +
                    " responses unread: dropped");
        return;
    }
    output.append(job);
}

QByteArray ProgramLink::dropPeer()
{
    output.clear();
    discardUnreadOutput();
    return "the output to " + readinessLines().first();
}

// Cuts the stream into frames at each CR, whatever pieces the bytes arrive in. Holds at most one
// frame's worth of bytes: a run longer than the largest frame is dropped up to and including its
// CR. Line feeds in front of a frame (the tail of a CR LF line end) are skipped.
void ProgramLink::receive(const QByteArray &bytes)
{
    emit bytesReceived(bytes);
    QList<QByteArray> frames;
    int position = 0;
    while (position < bytes.size()) {
        const int carriageReturn = bytes.indexOf('\r', position);
        const int end = carriageReturn < 0 ? bytes.size() : carriageReturn + 1;
        int start = position;
        position = end;
        if (discarding) {
            discarding = carriageReturn < 0;
            continue;
        }
        while (partialFrame.isEmpty() && start < end && bytes.at(start) == '\n') {
            ++start;
        }
        // One byte past the largest frame is enough to know that it cannot become one.
        const int room = V640_MAX_FRAME_SIZE + 1 - partialFrame.size();
        partialFrame.append(bytes.constData() + start, qMin(end - start, room));
        if (partialFrame.size() > V640_MAX_FRAME_SIZE) {
            partialFrame.clear();
            discarding = carriageReturn < 0;
        } else if (carriageReturn >= 0 && !partialFrame.isEmpty()) {
            frames.append(partialFrame);
            partialFrame.clear();
        }
    }
    // A program that sends a new command has given up on a flood still under way.
    if (!frames.isEmpty() && output.dropFloods()) {
        discardUnreadOutput();
    }
    const quint64 receivingConnection = connection;
    for (const QByteArray &frame : frames) {
        if (connection != receivingConnection) {
            return;
        }
        emit frameReceived(frame);
    }
}

void ProgramLink::resetConnection()
{
    ++connection;
    partialFrame.clear();
    discarding = false;
    output.clear();
}

TcpLink::TcpLink(const QHostAddress &address, quint16 port) : address(address), port(port)
{
    connect(&server, &QTcpServer::newConnection, this, &TcpLink::takeNextClient);
}

// The server deletes its sockets when it goes; the client must not report its end to a link
// that is already half destroyed.
TcpLink::~TcpLink()
{
    if (client != nullptr) {
        client->disconnect(this);
        delete client;
    }
}

bool TcpLink::open(QString *error)
{
    if (!server.listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(server.errorString());
        return false;
    }
    return true;
}

QList<QByteArray> TcpLink::readinessLines() const
{
    return {"tcp " + server.serverAddress().toString().toLatin1() + ':' +
            QByteArray::number(server.serverPort())};
}

bool TcpLink::hasPeer() const
{
    return client != nullptr && client->state() == QAbstractSocket::ConnectedState;
}

void TcpLink::takeNextClient()
{
    if (client != nullptr) {
        return;
    }
    client = server.nextPendingConnection();
    if (client == nullptr) {
        return;
    }
    connect(client, &QTcpSocket::readyRead, this, &TcpLink::readClient);
    connect(client, &QTcpSocket::disconnected, this, &TcpLink::clientGone);
    connect(client, &QTcpSocket::bytesWritten, this, &TcpLink::resumeOutput);
    // It may have sent its first frame while it waited for its turn.
    readClient();
    if (client != nullptr && client->state() != QAbstractSocket::ConnectedState) {
        clientGone();
    }
}

void TcpLink::readClient()
{
    if (client != nullptr) {
        receive(client->readAll());
    }
}

void TcpLink::clientGone()
{
    if (client == nullptr) {
        return;
    }
    QTcpSocket *gone = client;
    client = nullptr;
    gone->disconnect(this);
    gone->deleteLater();
    resetConnection();
    // From the event loop: this may run inside the answer to the last client's frame.
    QMetaObject::invokeMethod(this, &TcpLink::takeNextClient, Qt::QueuedConnection);
}

qint64 TcpLink::writeNow(const char *data, qint64 size)
{
    if (!hasPeer()) {
        return -1;
    }
    if (client->bytesToWrite() > mostUnsentBytes) {
        return 0;
    }
    return client->write(data, size);
}

void TcpLink::closeConnection()
{
    if (client != nullptr) {
        client->disconnectFromHost();
    }
}

QByteArray TcpLink::dropPeer()
{
    const QByteArray who = "the TCP client " + client->peerAddress().toString().toLatin1() + ':' +
                           QByteArray::number(client->peerPort());
    client->abort();
    clientGone();
    return who;
}

PtyLink::PtyLink(const QString &linkPath) : linkPath(linkPath) {}

PtyLink::~PtyLink()
{
    close();
}

bool PtyLink::open(QString *error)
{
    masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0) {
        *error = systemError(QStringLiteral("cannot create a pseudo-terminal"));
        return false;
    }
    char name[128];
    if (grantpt(masterFd) != 0 || unlockpt(masterFd) != 0 ||
        ptsname_r(masterFd, name, sizeof name) != 0) {
        *error = systemError(QStringLiteral("cannot prepare the pseudo-terminal"));
        close();
        return false;
    }
    slavePath = QString::fromLocal8Bit(name);
    slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings;
    if (slaveFd < 0 || tcgetattr(slaveFd, &settings) != 0) {
        *error = systemError(QStringLiteral("cannot open %1").arg(slavePath));
        close();
        return false;
    }
    // Raw from the start: no echo and no line editing of frames before the program sets the line.
    cfmakeraw(&settings);
    if (tcsetattr(slaveFd, TCSANOW, &settings) != 0 || flock(slaveFd, LOCK_EX | LOCK_NB) != 0 ||
        fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK) != 0) {
        *error = systemError(QStringLiteral("cannot set up %1").arg(slavePath));
        close();
        return false;
    }
    if (!linkPath.isEmpty() && !placeLink(error)) {
        close();
        return false;
    }
    readNotifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Read);
    connect(readNotifier.get(), &QSocketNotifier::activated, this, &PtyLink::readMaster);
    writeNotifier = std::make_unique<QSocketNotifier>(masterFd, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    connect(writeNotifier.get(), &QSocketNotifier::activated, this, [this]() {
        writeNotifier->setEnabled(false);
        resumeOutput();
    });
    return true;
}

bool PtyLink::placeLink(QString *error)
{
    // A link left behind by an earlier run that was killed is replaced; anything else is kept.
    // The link may name this simulator's own pty, which has the number of the killed one's.
    const QFileInfo existing(linkPath);
    if (existing.isSymLink() && existing.symLinkTarget() != slavePath &&
        ptyInUse(existing.symLinkTarget())) {
        *error = QStringLiteral("%1 is in use by another vorsel-sim").arg(linkPath);
        return false;
    }
    if (existing.isSymLink()) {
        QFile::remove(linkPath);
    } else if (existing.exists()) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath);
        return false;
    }
    if (symlink(QFile::encodeName(slavePath).constData(),
                QFile::encodeName(linkPath).constData()) != 0) {
        *error = systemError(QStringLiteral("cannot create the link %1").arg(linkPath));
        return false;
    }
    linkPlaced = true;
    return true;
}

void PtyLink::close()
{
    readNotifier.reset();
    writeNotifier.reset();
    if (linkPlaced && QFileInfo(linkPath).symLinkTarget() == QFileInfo(slavePath).filePath()) {
        QFile::remove(linkPath);
    }
    linkPlaced = false;
    for (int *fd : {&slaveFd, &masterFd}) {
        if (*fd >= 0) {
            ::close(std::exchange(*fd, -1));
        }
    }
}

QList<QByteArray> PtyLink::readinessLines() const
{
    QList<QByteArray> lines{"pty " + QFile::encodeName(slavePath)};
    if (!linkPath.isEmpty()) {
        lines.append("link " + QFile::encodeName(linkPath));
    }
    return lines;
}

void PtyLink::readMaster()
{
    char buffer[4096];
    // Bounded, so that a program that never stops writing cannot starve the event loop.
    for (int round = 0; round < 16; ++round) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            receive(QByteArray(buffer, static_cast<int>(count)));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Cannot happen while the slave descriptor is held; stop rather than spin.
            readNotifier->setEnabled(false);
        }
        return;
    }
}

qint64 PtyLink::writeNow(const char *data, qint64 size)
{
    if (masterFd < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t written = ::write(masterFd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return -1;
        }
        if (written < size) {
            writeNotifier->setEnabled(true);
        }
        return qMax<qint64>(written, 0);
    }
}

void PtyLink::discardUnreadOutput()
{
    tcflush(slaveFd, TCIFLUSH);
}

SerialLink::SerialLink(const QString &device, const SerialCommunicationSetting &setting)
    : device(device), setting(setting)
{
    connect(&port, &QSerialPort::readyRead, this, [this]() { receive(port.readAll()); });
    connect(&port, &QSerialPort::bytesWritten, this, &SerialLink::resumeOutput);
}

bool SerialLink::open(QString *error)
{
    port.setPortName(device);
    const bool opened = port.open(QIODevice::ReadWrite) && port.setBaudRate(setting.baudRate()) &&
                        port.setParity(setting.parity()) && port.setDataBits(setting.dataBits()) &&
                        port.setStopBits(setting.stopBits()) &&
                        port.setFlowControl(setting.flowControl());
    if (!opened) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, port.errorString());
        port.close();
    }
    return opened;
}

QList<QByteArray> SerialLink::readinessLines() const
{
    return {"serial " + QFile::encodeName(device)};
}

qint64 SerialLink::writeNow(const char *data, qint64 size)
{
    if (!port.isOpen()) {
        return -1;
    }
    if (port.bytesToWrite() > mostUnsentBytes) {
        return 0;
    }
    return port.write(data, size);
}

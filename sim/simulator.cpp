#include "simulator.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The `received` record keeps the latest bytes up to this size.
constexpr int receivedLimit = 8 * 1024 * 1024;
constexpr qint64 largestFlood = 1000000000;
constexpr int mostArrivals = 1000;
// Far more than any state: the file as saved has about 1 KiB, the rest is room for comments.
constexpr int largestStateFile = 64 * 1024;
constexpr char outsideFrameCharacters = static_cast<char>(0x80);

QString systemError(const QString &what, const QString &path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

Simulator::Simulator(const SimulatorOptions &options)
    : options(options), faults(options.faults), unit(options.node),
      control([this](const QByteArray &line) { return execute(line); }, &output, &notices)
{
    unit.tagLine() = options.tagLine;
}

Simulator::~Simulator()
{
    if (output.droppedLines() > 0) {
        notices.write("vorsel-sim: " + QByteArray::number(output.droppedLines()) +
                      " lines were not written to standard output: nobody read them");
    }
    if (stateLock >= 0) {
        ::close(stateLock);
    }
}

bool Simulator::start(QString *error)
{
    if (!options.stateFile.isEmpty() && !openState(error)) {
        return false;
    }
    if (!options.listenAddress.isNull()) {
        links.push_back(std::make_unique<TcpLink>(options.listenAddress, options.port));
    }
    if (options.pty) {
        links.push_back(std::make_unique<PtyLink>(options.linkPath));
    }
    if (!options.serialDevice.isEmpty()) {
        links.push_back(std::make_unique<SerialLink>(options.serialDevice, options.serialSetting));
    }
    QList<QByteArray> readinessLines;
    for (const std::unique_ptr<ProgramLink> &link : links) {
        if (!link->open(error)) {
            return false;
        }
        ProgramLink *linkPointer = link.get();
        connect(linkPointer, &ProgramLink::bytesReceived, this, &Simulator::recordReceived);
        connect(linkPointer, &ProgramLink::frameReceived, this,
                [this, linkPointer](const QByteArray &frame) { answerFrame(linkPointer, frame); });
        connect(linkPointer, &ProgramLink::notice, this,
                [this](const QByteArray &text) { notices.write("vorsel-sim: " + text); });
        readinessLines += link->readinessLines();
    }
    if (options.controlPort >= 0) {
        // Loopback only: the channel ends the simulator and reads back what programs sent.
        const QHostAddress address = options.listenAddress.isLoopback()
                                         ? options.listenAddress
                                         : QHostAddress(QHostAddress::LocalHost);
        if (!control.listen(address, static_cast<quint16>(options.controlPort), error)) {
            return false;
        }
        readinessLines.append(control.readinessLine());
    }
    control.readStandardInput();
    readinessLines.append("ready");
    for (const QByteArray &line : readinessLines) {
        output.write(line);
    }
    return true;
}

void Simulator::answerFrame(ProgramLink *link, const QByteArray &frame)
{
    if (!unit.accepts(frame)) {
        return;
    }
    // A unit that is busy sending does not hear the command at all.
    const auto sending = [](const std::unique_ptr<ProgramLink> &each) { return each->sending(); };
    if (faults.busy && std::any_of(links.begin(), links.end(), sending)) {
        return;
    }
    if (faults.ignoreNext > 0) {
        --faults.ignoreNext;
        return;
    }
    if (faults.ignoreEvery > 0 && ++commandsSinceIgnored >= faults.ignoreEvery) {
        commandsSinceIgnored = 0;
        return;
    }
    OutputJob job;
    if (faults.closeConnection) {
        job.closeConnection = true;
        link->send(job);
        return;
    }

    const QByteArray response = unit.answer(frame, faults.noTag == 0, !faults.lostWrite);
    faults.noTag -= faults.noTag > 0 ? 1 : 0;
    // In the order they were given; the command just answered still saw the old page.
    QString reason;
    for (int index = 0; index < arrivals.size();) {
        Arrival &arrival = arrivals[index];
        if (--arrival.commandsLeft > 0) {
            ++index;
            continue;
        }
        unit.setPage(arrival.page, arrival.hex, &reason);
        arrivals.removeAt(index);
    }
    stateChanged();
    if (pendingOverride) {
        job = *pendingOverride;
        pendingOverride.reset();
    } else {
        job.bytes = response;
        if (faults.badByte) {
            job.bytes.insert(job.bytes.size() - 1, outsideFrameCharacters);
        }
        job.bytes += faults.trailing;
    }
    job.delayMs = faults.delayNextCount > 0 ? faults.delayNextMs : faults.delayMs;
    faults.delayNextCount -= faults.delayNextCount > 0 ? 1 : 0;
    faults.delayNextMs = faults.delayNextCount > 0 ? faults.delayNextMs : 0;
    // A flood goes out as fast as the link takes it.
    if (job.fillCount == 0) {
        job.pieceSize = faults.splitBytes;
        job.pauseMs = faults.splitPauseMs;
    }
    if (faults.repeatEvery == 0 || ++answersSinceRepeated < faults.repeatEvery) {
        link->send(job);
        return;
    }
    answersSinceRepeated = 0;
    OutputJob copy = job;
    copy.delayMs = faults.repeatGapMs;
    // Right behind the original, in one write, where nothing comes between them.
    if (copy.delayMs == 0 && job.pieceSize == 0 && job.fillCount == 0) {
        job.bytes += copy.bytes;
        link->send(job);
        return;
    }
    link->send(job);
    link->send(copy);
}

void Simulator::recordReceived(const QByteArray &bytes)
{
    received += bytes;
    // Trimmed a mebibyte at a time, so a long stream does not move the whole record on every
    // read.
    if (received.size() > receivedLimit + 1024 * 1024) {
        received.remove(0, received.size() - receivedLimit);
    }
}

QByteArray Simulator::execute(const QByteArray &line)
{
    QList<QByteArray> words;
    for (const QByteArray &word : line.split(' ')) {
        if (!word.isEmpty()) {
            words.append(word);
        }
    }
    const QByteArray command = words.value(0);
    const int count = words.size();
    QString reason;
    QByteArray bytes;
    OutputJob job;
    if (command == "fault" && count >= 2) {
        if (!faults.apply(words.at(1), words.mid(2), &reason)) {
            return "error " + reason.toLatin1();
        }
        if (words.at(1) == "clear") {
            pendingOverride.reset();
            arrivals.clear();
            unit.tagLine().stop();
        }
        commandsSinceIgnored = 0;
        answersSinceRepeated = 0;
        return "ok";
    }
    if (command == "faults" && count == 1) {
        return "ok " + faults.summary();
    }
    if ((command == "respond" && count == 2 && decodeHex(words.at(1), &job.bytes)) ||
        (command == "flood" && count == 2 &&
         parseCount(words.at(1), largestFlood, &job.fillCount) && job.fillCount > 0)) {
        pendingOverride = job;
        return "ok";
    }
    if (command == "send" && count == 2 && decodeHex(words.at(1), &job.bytes)) {
        int sent = 0;
        for (const std::unique_ptr<ProgramLink> &link : links) {
            if (link->hasPeer()) {
                link->send(job);
                ++sent;
            }
        }
        return sent > 0 ? "ok" : "error no program connected";
    }
    qint64 commands = 0;
    if (command == "arrive" && count == 4 && arrivals.size() < mostArrivals &&
        parseCount(words.at(1), Faults::mostCommands, &commands) && commands > 0) {
        // Checked on a unit of its own, so that a bad page fails now.
        if (!Unit(options.node).setPage(words.at(2), words.at(3), &reason)) {
            return "error " + reason.toLatin1();
        }
        arrivals.append({static_cast<int>(commands), words.at(2), words.at(3)});
        return "ok";
    }
    if (command == "pass" && count == 2 && words.at(1) == "off") {
        unit.tagLine().stop();
        return "ok";
    }
    if (command == "pass" && unit.tagLine().start(words.mid(1))) {
        return "ok";
    }
    if (command == "passing" && count == 1) {
        return "ok " + unit.tagLine().status();
    }
    qint64 id = 0;
    if (command == "tag" && count == 2 && parseCount(words.at(1), TagLine::largestId, &id) &&
        id > 0) {
        const QByteArray *content = unit.tagLine().content(static_cast<int>(id));
        return content != nullptr
                   ? "ok " + encodeHex(*content)
                   : "error tag " + QByteArray::number(id) + " has not come into the field";
    }
    if (command == "received" && count == 1) {
        return "ok " + encodeHex(received.right(receivedLimit));
    }
    if (command == "clear-received" && count == 1) {
        received.clear();
        return "ok";
    }
    if (command == "set" && count >= 2) {
        // The value is the rest of the line as it stands, spaces included.
        QByteArray arguments = line.mid(line.indexOf("set") + 3);
        while (arguments.startsWith(' ')) {
            arguments.remove(0, 1);
        }
        const int space = arguments.indexOf(' ');
        const QByteArray name = space < 0 ? arguments : arguments.left(space);
        if (!unit.setField(name, space < 0 ? QByteArray() : arguments.mid(space + 1), &reason)) {
            return "error " + reason.toLatin1();
        }
        stateChanged();
        return "ok";
    }
    if (command == "get" && count == 2 && unit.field(words.at(1), &bytes)) {
        return "ok " + bytes;
    }
    if (command == "page" && count == 3) {
        if (!unit.setPage(words.at(1), words.at(2), &reason)) {
            return "error " + reason.toLatin1();
        }
        stateChanged();
        return "ok";
    }
    if (command == "state" && count == 1) {
        return "ok " + unit.summary();
    }
    if (command == "quit" && count == 1) {
        QCoreApplication::quit();
        return "ok";
    }
    static const QHash<QByteArray, QByteArray> usage{
        {"fault", "fault NAME [VALUE...]"},
        {"faults", "faults"},
        {"arrive", "arrive N PAGE HEX16 (N 1 to 1000000, at most 1000 pending)"},
        {"respond", "respond HEX"},
        {"flood", "flood N (1 to 1000000000)"},
        {"pass", "pass PRESENT GAP ID... (PRESENT and GAP 0 to 1000000, 1 to 10000 IDs of 1 to "
                 "999999), or pass off"},
        {"passing", "passing"},
        {"tag", "tag ID (1 to 999999)"},
        {"send", "send HEX"},
        {"received", "received"},
        {"clear-received", "clear-received"},
        {"set", "set FIELD VALUE"},
        {"get", "get FIELD (model, firmware, ..., history, tag)"},
        {"page", "page N HEX16"},
        {"state", "state"},
        {"quit", "quit"},
    };
    if (command.isEmpty()) {
        return "error empty command";
    }
    if (usage.contains(command)) {
        return "error usage: " + usage.value(command);
    }
    return "error unknown command " + escaped(command.left(40));
}

// The path must name a regular file or nothing yet: a symbolic link, a device or a FIFO there is
// never read or replaced. The file stays locked while this simulator runs, and it must take a save
// before the simulator serves, or every change would be lost.
bool Simulator::openState(QString *error)
{
    const QByteArray path = QFile::encodeName(options.stateFile);
    // A save renames a new file into place: a lock only counts on the file the path names.
    for (int attempt = 0; attempt < 100 && stateLock < 0; ++attempt) {
        struct stat opened = {};
        struct stat named = {};
        // Never through a link, which would make the simulator create or read another file; and
        // the file holds the web password.
        const int fd =
            ::open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat link = {};
        if (fd < 0 && lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
            *error = QStringLiteral("%1 is a symbolic link").arg(options.stateFile);
            return false;
        }
        if (fd < 0) {
            *error = systemError(QStringLiteral("cannot open"), options.stateFile);
            return false;
        }
        fstat(fd, &opened);
        if (!S_ISREG(opened.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *error =
                QString::fromLatin1(S_ISREG(opened.st_mode) ? "%1 is in use by another vorsel-sim"
                                                            : "%1 is not a regular file")
                    .arg(options.stateFile);
            ::close(fd);
            return false;
        }
        const bool same = stat(path, &named) == 0 && named.st_dev == opened.st_dev &&
                          named.st_ino == opened.st_ino;
        stateLock = same ? fd : (::close(fd), -1);
    }
    if (stateLock < 0) {
        *error = QStringLiteral("cannot lock %1: it keeps being replaced").arg(options.stateFile);
        return false;
    }
    QByteArray text(largestStateFile + 1, '\0');
    int size = 0;
    ssize_t count = 0;
    while (size < text.size() &&
           (count = ::read(stateLock, text.data() + size, text.size() - size)) != 0) {
        if (count < 0 && errno != EINTR) {
            *error = systemError(QStringLiteral("cannot read"), options.stateFile);
            return false;
        }
        size += static_cast<int>(qMax<ssize_t>(count, 0));
    }
    if (size > largestStateFile) {
        *error = QStringLiteral("%1 has more than %2 bytes: not a state file")
                     .arg(options.stateFile)
                     .arg(largestStateFile);
        return false;
    }
    QString reason;
    if (!unit.loadFileText(text.left(size), &reason)) {
        *error = QStringLiteral("%1: %2").arg(options.stateFile, reason);
        return false;
    }
    return saveState(error);
}

bool Simulator::saveState(QString *error)
{
    if (stateLock < 0) {
        return true;
    }
    // Written to a new file beside it, readable by its owner only, and renamed over the path
    // itself (a link there is replaced, never followed), so the file is always a whole old or new
    // state, whenever the process is killed; the new file is locked before it takes the name.
    const QByteArray path = QFile::encodeName(options.stateFile);
    QByteArray temporary = path + ".XXXXXX";
    const QByteArray text = unit.fileText();
    const int lock = mkostemp(temporary.data(), O_CLOEXEC);
    const bool written =
        lock >= 0 && ::write(lock, text.constData(), size_t(text.size())) == text.size();
    if (!written || flock(lock, LOCK_EX | LOCK_NB) != 0 ||
        rename(temporary.constData(), path.constData()) != 0) {
        *error = systemError(QStringLiteral("cannot save"), options.stateFile);
        if (lock >= 0) {
            ::close(lock);
            unlink(temporary.constData());
        }
        return false;
    }
    ::close(std::exchange(stateLock, lock));
    return true;
}

void Simulator::stateChanged()
{
    QString error;
    if (!saveState(&error)) {
        notices.write("vorsel-sim: " + error.toLocal8Bit());
    }
}

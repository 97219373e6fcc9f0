#include "simulator.h"

#include "ptylink.h"
#include "seriallink.h"
#include "standardoutput.h"
#include "tcplink.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace {

// The `received` record keeps the latest bytes up to this size.
constexpr int receivedLimit = 8 * 1024 * 1024;
constexpr char outsideFrameCharacters = static_cast<char>(0x80);

} // namespace

Simulator::Simulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), options(options), unit(&unitState, options.node),
      faultSettings(options.faults), interpreter(this)
{
    unit.setTagInField(!faultSettings.noTag);
}

Simulator::~Simulator() = default;

bool Simulator::start(QString *error)
{
    if (!options.stateFile.isEmpty() && !loadState(error)) {
        return false;
    }
    if (options.listen) {
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
        readinessLines += link->readinessLines();
    }

    const ControlHandler handler = [this](const QByteArray &line) {
        return interpreter.execute(line);
    };
    if (options.control) {
        const QHostAddress controlAddress =
            options.listen ? options.listenAddress : QHostAddress(QHostAddress::LocalHost);
        tcpControl = std::make_unique<TcpControl>(controlAddress, options.controlPort, handler);
        if (!tcpControl->open(error)) {
            return false;
        }
        readinessLines.append(tcpControl->readinessLine());
    }
    standardInputControl = std::make_unique<StandardInputControl>(handler);
    standardInputControl->start();

    readinessLines.append("ready");
    for (const QByteArray &line : readinessLines) {
        StandardOutput::writeLine(line);
    }
    return true;
}

void Simulator::answerFrame(ProgramLink *link, const QByteArray &frame)
{
    if (!unit.accepts(frame)) {
        return;
    }
    if (faultSettings.ignoreEvery > 0 && ++commandsSinceIgnored >= faultSettings.ignoreEvery) {
        commandsSinceIgnored = 0;
        return;
    }
    if (faultSettings.closeConnection) {
        OutputJob close;
        close.closeConnection = true;
        link->send(close);
        return;
    }

    const QByteArray response = unit.answer(frame);
    QString error;
    if (!saveState(&error)) {
        std::fprintf(stderr, "vorsel-sim: %s\n", qPrintable(error));
    }

    OutputJob job;
    if (pendingOverride) {
        job = *pendingOverride;
        pendingOverride.reset();
    } else {
        job.bytes = response;
        if (faultSettings.badByte) {
            job.bytes.insert(job.bytes.size() - 1, outsideFrameCharacters);
        }
        job.bytes += faultSettings.trailing;
    }
    job.delayMs = faultSettings.delayMs;
    // A flood goes out as fast as the link takes it.
    if (job.fillCount == 0) {
        job.pieceSize = faultSettings.splitBytes;
        job.pauseMs = faultSettings.splitPauseMs;
    }
    link->send(job);
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

QByteArray Simulator::receivedBytes() const
{
    return received.right(receivedLimit);
}

void Simulator::faultsChanged()
{
    commandsSinceIgnored = 0;
    unit.setTagInField(!faultSettings.noTag);
}

void Simulator::stateChanged()
{
    QString error;
    if (!saveState(&error)) {
        std::fprintf(stderr, "vorsel-sim: %s\n", qPrintable(error));
    }
}

int Simulator::sendUnsolicited(const QByteArray &bytes)
{
    int count = 0;
    for (const std::unique_ptr<ProgramLink> &link : links) {
        if (link->hasPeer()) {
            OutputJob job;
            job.bytes = bytes;
            link->send(job);
            ++count;
        }
    }
    return count;
}

QByteArray Simulator::lineSettings(bool now) const
{
    for (const std::unique_ptr<ProgramLink> &link : links) {
        const QByteArray settings =
            now ? link->lineSettingsNow() : link->lineSettingsAtLastReceive();
        if (!settings.isEmpty()) {
            return settings;
        }
    }
    return QByteArray();
}

void Simulator::quit()
{
    QCoreApplication::quit();
}

bool Simulator::loadState(QString *error)
{
    QFile file(options.stateFile);
    if (!file.exists()) {
        // A first run starts from the defaults and leaves them in the file.
        return saveState(error);
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(options.stateFile, file.errorString());
        return false;
    }
    QString reason;
    if (!unitState.loadFileText(file.readAll(), &reason)) {
        *error = QStringLiteral("%1: %2").arg(options.stateFile, reason);
        return false;
    }
    return true;
}

bool Simulator::saveState(QString *error)
{
    if (options.stateFile.isEmpty()) {
        return true;
    }
    // QSaveFile writes a temporary file and renames it over the old one on commit, so the
    // file is always either the old state or the new one, whenever the process is killed.
    QSaveFile file(options.stateFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(unitState.toFileText()) < 0 ||
        !file.commit()) {
        *error = QStringLiteral("cannot save %1: %2").arg(options.stateFile, file.errorString());
        return false;
    }
    return true;
}

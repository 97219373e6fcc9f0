#include "simulatorprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

QString ownLoopbackAddress(int lastOctet)
{
    static const qint64 block = QCoreApplication::applicationPid() % (254 * 254);
    return QStringLiteral("127.%1.%2.%3").arg(1 + block / 254).arg(1 + block % 254).arg(lastOctet);
}

qint64 peakResidentKib(qint64 processId, bool restart)
{
    const QString proc = QStringLiteral("/proc/%1/").arg(processId);
    QFile references(proc + "clear_refs");
    if (restart && references.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        references.write("5");
    }
    QFile status(proc + "status");
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : "";
    const int start = text.indexOf("VmHWM:");
    return start < 0
               ? -1
               : text.mid(start + 6, text.indexOf(" kB", start) - start - 6).trimmed().toLongLong();
}

SimulatorProcess::~SimulatorProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(simulatorBoundMs)) {
            process.kill();
            process.waitForFinished(simulatorBoundMs);
        }
    }
}

bool SimulatorProcess::start(const QStringList &arguments, const QString &wrapper)
{
    if (wrapper.isEmpty()) {
        process.start(QStringLiteral(SIMULATOR_PROGRAM), arguments);
    } else {
        process.start("unshare", QStringList{"-rmn", "sh", "-c", wrapper + R"( && exec "$0" "$@")",
                                             SIMULATOR_PROGRAM} +
                                     arguments);
    }
    for (QByteArray line = readLine(); !line.isNull(); line = readLine()) {
        if (line == "ready") {
            return true;
        }
        ready.insert(line.left(line.indexOf(' ')), line.mid(line.indexOf(' ') + 1));
    }
    // Peeked, so that a test can still read why.
    process.setReadChannel(QProcess::StandardError);
    qWarning("vorsel-sim did not get ready: %s", process.peek(4096).constData());
    process.setReadChannel(QProcess::StandardOutput);
    return false;
}

QByteArray SimulatorProcess::control(const QByteArray &line)
{
    process.write(line + '\n');
    return readLine();
}

bool SimulatorProcess::quit()
{
    if (process.state() != QProcess::NotRunning) {
        process.write("quit\n");
        process.waitForFinished(simulatorBoundMs);
    }
    return process.state() == QProcess::NotRunning &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
           process.readAllStandardError().isEmpty();
}

QByteArray SimulatorProcess::readLine()
{
    const QDeadlineTimer deadline(simulatorBoundMs);
    while (!process.canReadLine() && process.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return process.canReadLine() ? process.readLine().chopped(1) : QByteArray();
}

#include "programlink.h"

ProgramLink::ProgramLink(QObject *parent)
    : QObject(parent),
      output([this](const char *data, qint64 size) { return writeNow(data, size); },
             [this]() { closeConnection(); })
{
}

void ProgramLink::send(const OutputJob &job)
{
    output.append(job);
}

void ProgramLink::receive(const QByteArray &bytes)
{
    emit bytesReceived(bytes);
    const QList<QByteArray> frames = reassembler.append(bytes);
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
    reassembler.clear();
    output.clear();
}

void ProgramLink::resumeOutput()
{
    output.resume();
}

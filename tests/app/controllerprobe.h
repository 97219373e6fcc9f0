#ifndef VORSEL_TESTS_CONTROLLERPROBE_H
#define VORSEL_TESTS_CONTROLLERPROBE_H

#include <QBuffer>
#include <QByteArray>

#include "consoleapplicationmain.h"

// Drives the controller's parsers and reporting without a link, capturing what it prints.
class ControllerProbe
{
public:
    ControllerProbe()
    {
        output.open(QIODevice::WriteOnly);
        controller.outputStream.setDevice(&output);
    }

    QString parsePages(const QString &pages) const { return controller.parsePagesParameter(pages); }

    QString parseIPAddress(const QString &address) const
    {
        return controller.parseIPAddressParameter(address);
    }

    // Reports one exchange as if the response had just completed; returns what was printed.
    QByteArray report(const QByteArray &command, const QByteArray &response, int level = 0,
                      bool errorAbort = false)
    {
        controller.outputLevel = level;
        controller.errorAbort = errorAbort;
        controller.lastCommand = command;
        controller.responseBuffer = response;
        const qint64 before = output.data().size();
        controller.reportV640Response();
        controller.outputStream.flush();
        return output.data().mid(static_cast<int>(before));
    }

    // As if the command had just been sent: an answer to it is awaited.
    void await(const QByteArray &command)
    {
        controller.lastCommand = command;
        controller.responseBuffer.clear();
        controller.responseTimer.start(60000);
    }

    // Hands bytes to the reception as one read from the link.
    void receive(const QByteArray &bytes)
    {
        controller.takeResponseBytes(bytes.constData(), bytes.size());
    }

    QByteArray responseBuffer() const { return controller.responseBuffer; }
    ConsoleApplicationMain::ExitStatus exitStatus() const { return controller.exitStatus; }

private:
    ConsoleApplicationMain controller;
    QBuffer output;
};

#endif

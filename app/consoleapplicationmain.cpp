#include "consoleapplicationmain.h"

#include <QCoreApplication>
#include <QIODevice>

#include <unistd.h>

// Created once, under the lock of a function-local static, and destroyed at process exit;
// afterwards the accessor yields null.
Q_GLOBAL_STATIC(ConsoleApplicationMain, theController)

ConsoleApplicationMain::ConsoleApplicationMain(QObject *parent)
    : QObject(parent), standardInput(STDIN_FILENO, V640_MAX_FRAME_SIZE),
      inputStream(&standardInput), outputStream(stdout, QIODevice::WriteOnly),
      production(&outputStream, &diagnostics)
{
}

ConsoleApplicationMain::~ConsoleApplicationMain()
{
    delete device;
}

ConsoleApplicationMain *ConsoleApplicationMain::instance()
{
    return theController();
}

void ConsoleApplicationMain::exitCommander(ExitStatus status)
{
    if (device != nullptr) {
        trace.closed();
        device->close();
        // This may run inside the link's own signal, so the object goes once control is back
        // in the event loop, at the latest when the loop ends.
        device->deleteLater();
        device = nullptr;
    }
    // A run that is ending waits for no response and takes no line: a time-out must not reopen
    // the link.
    responseTimer.stop();
    ending = true;
    if (status != NoError) {
        exitStatus = status;
    }
    QCoreApplication::exit(exitStatus);
}

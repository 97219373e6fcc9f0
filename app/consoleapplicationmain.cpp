#include "consoleapplicationmain.h"

#include <QCoreApplication>
#include <QIODevice>

#include <unistd.h>

// Created once, under the lock of a function-local static, and destroyed at process exit;
// afterwards the accessor yields null.
Q_GLOBAL_STATIC(ConsoleApplicationMain, theController)

ConsoleApplicationMain::ConsoleApplicationMain(QObject *parent)
    : QObject(parent), standardInput(STDIN_FILENO, V640_MAX_FRAME_SIZE),
      inputStream(stdin, QIODevice::ReadOnly), outputStream(stdout, QIODevice::WriteOnly),
      engine(linkTarget, responseTimer, lastCommand, responseBuffer, trace),
      productionReport(outputStream)
{
    // Texts of frames are at most a frame long: their room lasts the run.
    lastCommandText.reserve(V640_MAX_FRAME_SIZE);
    lastResponseText.reserve(V640_MAX_FRAME_SIZE);
    rawLine.reserve(2 * V640_MAX_FRAME_SIZE + 2);
    connect(&engine, &ExchangeEngine::linkOpened, this, &ConsoleApplicationMain::linkOpened);
    connect(&engine, &ExchangeEngine::linkClosed, this, [this]() { device = nullptr; });
    connect(&engine, &ExchangeEngine::notice, this,
            [this](const QString &text) { diagnostics.say(text); });
    connect(&engine, &ExchangeEngine::exchangeEnded, this, &ConsoleApplicationMain::exchangeEnded);
    connect(&engine, &ExchangeEngine::settled, this, [this]() { exitCommander(NoError); });
}

ConsoleApplicationMain::~ConsoleApplicationMain() = default;

ConsoleApplicationMain *ConsoleApplicationMain::instance()
{
    return theController();
}

void ConsoleApplicationMain::exitCommander(ExitStatus status)
{
    // A run that is ending waits for no response and takes no line: a time-out must not reopen
    // the link.
    engine.stop();
    engine.closeLink();
    ending = true;
    // Closing the link writes the trace's last line.
    if (trace.failed() && exitStatus != Error) {
        diagnostics.say(QStringLiteral("cannot write the trace"));
        status = Error;
    }
    if (status != NoError) {
        exitStatus = status;
    }
    QCoreApplication::exit(exitStatus);
}

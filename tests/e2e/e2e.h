#ifndef VORSEL_TESTS_E2E_E2E_H
#define VORSEL_TESTS_E2E_E2E_H

#include <QByteArrayList>
#include <QProcess>
#include <QtTest>

#include "simulatorprocess.h"

// The real vorsel against vorsel-sim. Most tests are tables of rows: vorsel's arguments, a
// script of steps, the messages the unit must have received and the exit status.
namespace e2e {

// Only against hangs; a working run never nears it.
constexpr int boundMs = simulatorBoundMs;
// The row target for a pty as the serial port, in place of the last octet of 127.0.0.N.
constexpr int onPty = 0;

enum Input { Pipe, Terminal, File };

// A loopback address "127.B.C.N". The unit's port is fixed and test programs run in parallel:
// every test function owns an N of its own, 10 to 99, and every test process a block B.C of its
// own, so that runs of other build trees beside it never answer its connections. Rows write
// their expected texts with "127.0.0.N"; the harness puts the real address in.
QString address(int lastOctet);
// The frame for a message: unaddressed for node 0, else SOH, node digits, message, FCS, CR.
QByteArray frame(int node, const QByteArray &message);
// A frame as reports show it: without SOH and CR.
QByteArray printable(const QByteArray &frame);
constexpr bool sanitized = SANITIZED_BUILD != 0;

class Simulator : public SimulatorProcess
{
public:
    bool steer(const QByteArray &line) { return control(line).startsWith("ok"); }
    // Every byte vorsel sent so far.
    QByteArray received() { return QByteArray::fromHex(control("received").mid(3)); }
};

class Vorsel
{
public:
    Vorsel();
    ~Vorsel();
    bool start(const QStringList &arguments, Input input = Pipe, const QByteArray &file = {});
    bool write(const QByteArray &bytes);
    // Closes the pipe, or types the end-of-file character on the terminal.
    void endInput();
    // Until the output holds `size` bytes or vorsel has ended.
    bool waitForOutput(int size);
    // For checks that nothing more comes: true when no output came within the time.
    bool quietFor(int milliseconds);
    // Until it ends; killed after the bound. True when it exited by itself.
    bool finish();
    // Started with the arguments and run to its end.
    bool run(const QStringList &arguments) { return start(arguments) && finish(); }
    QByteArray output;
    QByteArray errors;
    QStringList wrapper; // program and arguments that vorsel runs under
    QProcessEnvironment environment;
    QProcess process;

private:
    void collect();
    int terminal = -1;
    int terminalSlave = -1;
};

// Columns: arguments (a text split at spaces, or a list for values with spaces), steps, sent,
// status, input. The steps, in order:
//   "!LINE"  a control line for the simulator, answered ok; leading ones run before vorsel
//            starts. "!quit" ends the simulator, whose record is taken first.
//   "<TEXT"  TEXT on vorsel's standard input (with File input: the file's content).
//   "=TEXT"  wait until the output holds everything expected so far, TEXT last; the whole
//            output must be the "=" texts joined.
//   "{...}"  the next output line is this JSON object (an elapsed_ms in it may be any number).
//   "?TEXT"  standard error holds TEXT; without such steps it must stay empty. "%TEXT": it does
//            not hold TEXT.
//   "~"      no output for a while; "#N": the simulator has received N bytes.
//   "$"      the end of input. Without it the input stays open and vorsel must end by itself.
//   "^"      the first takes the peak resident size, later ones require it to stay near.
//   "-", "+" stop vorsel, let it go on (so that several events meet it at once); "*" Ctrl-C.
// sent: the messages the unit received, framed as the link frames them ("\x01..." verbatim).
void addColumns();
void addRow(const char *name, const QString &arguments, const QByteArrayList &steps,
            const QByteArrayList &sent = {}, int status = 0, Input input = Pipe);
void addRow(const char *name, const QStringList &arguments, const QByteArrayList &steps,
            const QByteArrayList &sent = {}, int status = 0, Input input = Pipe);
// Runs the current row against a simulator on 127.0.0.N or on a pty (onPty).
void runRow(int lastOctet, const QStringList &wrapper = {});

} // namespace e2e

Q_DECLARE_METATYPE(e2e::Input)

#endif

#pragma once

// Shared by the documentation checks: the options a program lists in --help, running programs
// with bounded waits, and reading man page source.

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace docs {

// An option as --help lists it; shortName and valueName may be empty.
struct HelpOption
{
    QString shortName;
    QString longName;
    QString valueName;

    // "-t, --target device" or "--nak": the form the man pages use for an option's tag.
    QString tag() const;
};

struct RunResult
{
    bool finished = false; // false: killed after the time-out, or could not start
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs program with arguments, standard input from input, and waits at most timeoutMs.
RunResult run(const QString &program, const QStringList &arguments, const QByteArray &input = {},
              int timeoutMs = 30000,
              const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The options of the "Options:" list of program's --help output.
QList<HelpOption> helpOptions(const QString &program);

QString vorselProgram();
QString simulatorProgram();
QString sourcePath(const QString &relative);
QStringList readLines(const QString &path);

// Plain text of one line of man page source: escapes resolved, font changes dropped. Unknown
// escapes are reported through error, so that nothing is compared in a form nobody sees.
QString roffText(const QString &line, QString *error);

// Plain text of a line that may be a font macro (.B, .BR, .IR, ...): its arguments joined as the
// macro joins them. Other lines as roffText.
QString roffMacroText(const QString &line, QString *error);

} // namespace docs

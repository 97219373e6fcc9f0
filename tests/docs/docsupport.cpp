#include "docsupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

namespace docs {

QString HelpOption::tag() const
{
    QString text;
    if (!shortName.isEmpty()) {
        text += QLatin1Char('-') + shortName + QStringLiteral(", ");
    }
    text += QStringLiteral("--") + longName;
    if (!valueName.isEmpty()) {
        text += QLatin1Char(' ') + valueName;
    }
    return text;
}

RunResult run(const QString &program, const QStringList &arguments, const QByteArray &input,
              int timeoutMs, const QProcessEnvironment &environment)
{
    RunResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    if (input.isEmpty()) {
        process.setStandardInputFile(QProcess::nullDevice());
    }
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        return result;
    }
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(10000);
    } else {
        result.finished = process.exitStatus() == QProcess::NormalExit;
        result.exitCode = process.exitCode();
    }
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

QList<HelpOption> helpOptions(const QString &program)
{
    // "  -t, --target <device>   Specify ..." and "  --nak   Sends ...", in the "Options:" list.
    static const QRegularExpression optionLine(
        QStringLiteral(R"(^  (?:-(\w), )?--([\w-]+)(?: <([^>]+)>)?(?:\s|$))"));
    const RunResult help = run(program, {QStringLiteral("--help")});
    QList<HelpOption> options;
    if (!help.finished || help.exitCode != 0) {
        return options;
    }
    bool inOptions = false;
    for (const QString &line : QString::fromUtf8(help.standardOutput).split(QLatin1Char('\n'))) {
        if (line == QLatin1String("Options:")) {
            inOptions = true;
            continue;
        }
        if (!inOptions) {
            continue;
        }
        if (line.trimmed().isEmpty()) {
            break;
        }
        const QRegularExpressionMatch match = optionLine.match(line);
        if (match.hasMatch()) {
            options.append({match.captured(1), match.captured(2), match.captured(3)});
        }
    }
    return options;
}

QString vorselProgram()
{
    return QStringLiteral(VORSEL_PROGRAM);
}

QString simulatorProgram()
{
    return QStringLiteral(SIMULATOR_PROGRAM);
}

QString sourcePath(const QString &relative)
{
    return QDir(QStringLiteral(SOURCE_DIR)).filePath(relative);
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QString roffText(const QString &line, QString *error)
{
    static const QHash<QString, QString> specialCharacters = {
        {QStringLiteral("aq"), QStringLiteral("'")},  {QStringLiteral("dq"), QStringLiteral("\"")},
        {QStringLiteral("ti"), QStringLiteral("~")},  {QStringLiteral("ha"), QStringLiteral("^")},
        {QStringLiteral("rs"), QStringLiteral("\\")},
    };
    QString text;
    for (int i = 0; i < line.size(); ++i) {
        if (line.at(i) != QLatin1Char('\\')) {
            text += line.at(i);
            continue;
        }
        if (++i >= line.size()) {
            *error = QStringLiteral("a backslash ends the line: %1").arg(line);
            return {};
        }
        const QChar escape = line.at(i);
        if (escape == QLatin1Char('-')) {
            text += QLatin1Char('-');
        } else if (escape == QLatin1Char('e') || escape == QLatin1Char('\\')) {
            text += QLatin1Char('\\');
        } else if (escape == QLatin1Char('&')) {
        } else if (escape == QLatin1Char(' ')) {
            text += QLatin1Char(' ');
        } else if (escape == QLatin1Char('(') && i + 2 < line.size() &&
                   specialCharacters.contains(line.mid(i + 1, 2))) {
            text += specialCharacters.value(line.mid(i + 1, 2));
            i += 2;
        } else if (escape == QLatin1Char('f') && i + 1 < line.size() &&
                   QStringLiteral("BIRP").contains(line.at(i + 1))) {
            ++i;
        } else {
            *error = QStringLiteral("unknown escape \\%1 in: %2").arg(escape).arg(line);
            return {};
        }
    }
    return text;
}

QString roffMacroText(const QString &line, QString *error)
{
    static const QRegularExpression fontMacro(
        QStringLiteral(R"(^\.(B|I|BR|RB|IR|RI|BI|IB)(?: (.*))?$)"));
    if (line.startsWith(QLatin1String(".\\\""))) {
        return {};
    }
    const QRegularExpressionMatch match = fontMacro.match(line);
    if (!match.hasMatch()) {
        return line.startsWith(QLatin1Char('.')) ? QString() : roffText(line, error);
    }
    // Arguments are separated by spaces; double quotes group words into one argument.
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool started = false;
    for (const QChar c : match.captured(2)) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            started = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (started) {
                arguments.append(current);
            }
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) {
        arguments.append(current);
    }
    const bool alternating = match.captured(1).size() == 2;
    return roffText(arguments.join(alternating ? QString() : QStringLiteral(" ")), error);
}

} // namespace docs

// The man pages against the programs and the README: every option that --help lists is
// documented with its short name and value name and nothing else is; the pages render without
// warnings; version, behaviour notes and exit statuses agree with the program and the README.

#include "docsupport.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

// The lines of one section (".SH NAME" up to the next ".SH") of a man page.
QStringList section(const QStringList &page, const QString &name)
{
    QStringList lines;
    bool inside = false;
    for (const QString &line : page) {
        if (line.startsWith(QLatin1String(".SH "))) {
            QString title = line.mid(4);
            title.remove(QLatin1Char('"'));
            inside = title == name;
            continue;
        }
        if (inside) {
            lines.append(line);
        }
    }
    return lines;
}

QString collapsed(const QString &text)
{
    return text.simplified();
}

} // namespace

class ManPageTest : public QObject
{
    Q_OBJECT

private slots:
    void optionsMatchHelp_data();
    void optionsMatchHelp();
    void rendersWithoutWarnings_data();
    void rendersWithoutWarnings();
    void versionMatchesProgram_data();
    void versionMatchesProgram();
    void behaviourNotesMatchReadme();
    void exitStatusesMatchReadme();
};

void ManPageTest::optionsMatchHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("page");
    QTest::newRow("vorsel") << docs::vorselProgram() << QStringLiteral("docs/man/vorsel.1");
    QTest::newRow("vorsel-sim") << docs::simulatorProgram()
                                << QStringLiteral("docs/man/vorsel-sim.1");
}

// The tag line of each .TP item in OPTIONS reads "-t, --target device" for the option that
// --help lists as "-t, --target <device>".
void ManPageTest::optionsMatchHelp()
{
    QFETCH(QString, program);
    QFETCH(QString, page);
    const QList<docs::HelpOption> options = docs::helpOptions(program);
    QVERIFY2(options.size() > 3, "--help lists no options");

    const QStringList lines = section(docs::readLines(docs::sourcePath(page)), "OPTIONS");
    QSet<QString> documented;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines.at(i) != QLatin1String(".TP")) {
            continue;
        }
        QString error;
        const QString tag = docs::roffMacroText(lines.at(i + 1), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        if (tag.startsWith(QLatin1Char('-'))) {
            documented.insert(tag);
        }
    }

    QSet<QString> listed;
    QStringList missing;
    for (const docs::HelpOption &option : options) {
        listed.insert(option.tag());
        if (!documented.contains(option.tag())) {
            missing.append(option.tag());
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable("not in the man page: " + missing.join(", ")));
    const QSet<QString> stale = documented - listed;
    QVERIFY2(stale.isEmpty(),
             qPrintable("not in --help: " + QStringList(stale.values()).join(", ")));
}

void ManPageTest::rendersWithoutWarnings_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("vorsel") << QStringLiteral("docs/man/vorsel.1");
    QTest::newRow("vorsel-sim") << QStringLiteral("docs/man/vorsel-sim.1");
}

void ManPageTest::rendersWithoutWarnings()
{
    QFETCH(QString, page);
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    QVERIFY2(!groff.isEmpty(), "groff is needed (package groff-base)");
    const docs::RunResult result =
        docs::run(groff, {QStringLiteral("-t"), QStringLiteral("-man"), QStringLiteral("-ww"),
                          QStringLiteral("-z"), docs::sourcePath(page)});
    QVERIFY(result.finished);
    QCOMPARE(QString::fromUtf8(result.standardError), QString());
    QCOMPARE(result.exitCode, 0);
}

void ManPageTest::versionMatchesProgram_data()
{
    QTest::addColumn<QString>("page");
    QTest::newRow("vorsel") << QStringLiteral("docs/man/vorsel.1");
    QTest::newRow("vorsel-sim") << QStringLiteral("docs/man/vorsel-sim.1");
}

// .TH TITLE SECTION DATE "vorsel VERSION" MANUAL
void ManPageTest::versionMatchesProgram()
{
    QFETCH(QString, page);
    const docs::RunResult version = docs::run(docs::vorselProgram(), {QStringLiteral("--version")});
    QVERIFY(version.finished);
    const QString expected = QString::fromUtf8(version.standardOutput).trimmed();
    QVERIFY(expected.startsWith(QLatin1String("vorsel ")));

    static const QRegularExpression heading(QStringLiteral("^\\.TH \\S+ 1 \\S+ \"([^\"]+)\""));
    QString source;
    for (const QString &line : docs::readLines(docs::sourcePath(page))) {
        const QRegularExpressionMatch match = heading.match(line);
        if (match.hasMatch()) {
            source = match.captured(1);
        }
    }
    QCOMPARE(source, expected);
}

// The numbered list under "## Behaviour notes" and the .IP items of NOTES say the same.
void ManPageTest::behaviourNotesMatchReadme()
{
    QStringList readmeNotes;
    bool inNotes = false;
    static const QRegularExpression item(QStringLiteral(R"(^(\d+)\. (.*)$)"));
    for (const QString &line : docs::readLines(docs::sourcePath(QStringLiteral("README.md")))) {
        if (line.startsWith(QLatin1String("## "))) {
            inNotes = line == QLatin1String("## Behaviour notes");
            continue;
        }
        if (!inNotes) {
            continue;
        }
        const QRegularExpressionMatch match = item.match(line);
        if (match.hasMatch()) {
            QCOMPARE(match.captured(1).toInt(), readmeNotes.size() + 1);
            readmeNotes.append(match.captured(2));
        } else if (!readmeNotes.isEmpty() && line.startsWith(QLatin1String("   "))) {
            readmeNotes.last() += QLatin1Char(' ') + line;
        }
    }
    for (QString &note : readmeNotes) {
        note = collapsed(note.remove(QLatin1Char('`')));
    }
    QVERIFY(readmeNotes.size() > 3);

    QStringList pageNotes;
    const QStringList lines =
        section(docs::readLines(docs::sourcePath(QStringLiteral("docs/man/vorsel.1"))), "NOTES");
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String(".IP "))) {
            QCOMPARE(line.section(QLatin1Char(' '), 1, 1),
                     QString::number(pageNotes.size() + 1) + QLatin1Char('.'));
            pageNotes.append(QString());
        } else if (!pageNotes.isEmpty()) {
            QString error;
            pageNotes.last() += QLatin1Char(' ') + docs::roffMacroText(line, &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
    }
    for (QString &note : pageNotes) {
        note = collapsed(note);
    }
    QCOMPARE(pageNotes, readmeNotes);
}

void ManPageTest::exitStatusesMatchReadme()
{
    QStringList readmeStatuses;
    static const QRegularExpression tableRow(QStringLiteral(R"(^\| (\d+) \|)"));
    for (const QString &line : docs::readLines(docs::sourcePath(QStringLiteral("README.md")))) {
        const QRegularExpressionMatch match = tableRow.match(line);
        if (match.hasMatch()) {
            readmeStatuses.append(match.captured(1));
        }
    }
    QStringList pageStatuses;
    static const QRegularExpression tblRow(QStringLiteral(R"(^(\d+)\t)"));
    for (const QString &line :
         section(docs::readLines(docs::sourcePath(QStringLiteral("docs/man/vorsel.1"))),
                 "EXIT STATUS")) {
        const QRegularExpressionMatch match = tblRow.match(line);
        if (match.hasMatch()) {
            pageStatuses.append(match.captured(1));
        }
    }
    QVERIFY(!pageStatuses.isEmpty());
    QCOMPARE(pageStatuses, readmeStatuses);
}

QTEST_GUILESS_MAIN(ManPageTest)
#include "tst_manpages.moc"

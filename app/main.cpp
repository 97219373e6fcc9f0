#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "consoleapplicationmain.h"

namespace {

// A process started with a standard descriptor closed would hand that number to the link, and
// then read commands from, or print reports into, the unit's connection.
void occupyClosedStandardDescriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1) {
            const int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened != descriptor && opened >= 0) {
                close(opened);
            }
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    // The mapping Qt's Japanese text codecs consult: the program's own, not the environment's.
    if (!qputenv("UNICODEMAP_JP", "cp932,nec-vdc")) {
        return 1;
    }
    // Qt's own event dispatcher rather than GLib's, which wakes itself through an eventfd on
    // every notifier and timer change: several system calls per exchange for nothing.
    qputenv("QT_NO_GLIB", "1");
    occupyClosedStandardDescriptors();
    // A reader that went away, or a file at the size limit, is a failed write, which ends the run
    // with its own status, rather than a signal that kills the process in the middle of an
    // exchange.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));

    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Oberan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("oberan.example"));
    QCoreApplication::setApplicationName(QStringLiteral("vorsel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORSEL_VERSION));

    QTranslator translator;
    const QString catalogue = QStringLiteral("qt_") + QLocale().name();
    if (!translator.load(catalogue, QCoreApplication::applicationDirPath())) {
        translator.load(catalogue, QLibraryInfo::location(QLibraryInfo::TranslationsPath));
    }
    QCoreApplication::installTranslator(&translator);

    qRegisterMetaType<QAbstractSocket::SocketError>();
    QTimer::singleShot(0, ConsoleApplicationMain::instance(), &ConsoleApplicationMain::main);
    return QCoreApplication::exec();
}

#ifndef VORSEL_CONSOLEAPPLICATIONMAIN_H
#define VORSEL_CONSOLEAPPLICATIONMAIN_H

#include <QAbstractSocket>
#include <QByteArray>
#include <QCommandLineParser>
#include <QObject>
#include <QString>
#include <QTextStream>
#include <QTimer>

#include "commands.h"
#include "diagnostics.h"
#include "exchangeengine.h"
#include "exchangeoutcome.h"
#include "interruptwatcher.h"
#include "jsonreport.h"
#include "link.h"
#include "productionreport.h"
#include "productionrun.h"
#include "serialcommunicationsetting.h"
#include "standardinput.h"
#include "traffictrace.h"
#include "v640.h"

class QIODevice;
class QSocketNotifier;

// The one controller of a run: command line, link to the Amplifier Unit, command transaction
// and reporting. The exchange engine beside it decides everything about the link; the
// controller's slots hand it their events. Every end of a run goes through exitCommander.
class ConsoleApplicationMain : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus {
        NoError = 0,
        Error = 1,
        V640ResponseError = 2,
        InvalidParameter = 3,
        CommunicationError = 4,
        VerifyMismatch = 5,
        Interrupted = 130,
    };
    Q_ENUM(ExitStatus)

    explicit ConsoleApplicationMain(QObject *parent = nullptr);
    ~ConsoleApplicationMain() override;

    static ConsoleApplicationMain *instance();

    // Pure: they read and change no member.
    QString parsePagesParameter(const QString &pages) const;
    QString parseIPAddressParameter(const QString &address) const;

public slots:
    void main();
    void filter();

private slots:
    void sendV640Command();
    void networkError(QAbstractSocket::SocketError socketError);
    void reciveV640Response();
    void responseTimeout();

private:
    bool openV640Device();
    void closeV640Device();
    void exitCommander(ExitStatus status);
    void next();
    bool buildV640Command(const QString &message);
    bool buildLineCommand();
    bool buildFrame(const char *message, int length);

    void linkOpened(Link *link);
    void exchangeEnded(const ExchangeRecord &record);
    void report(const ExchangeRecord &record);
    void finishRun();
    void endRun(ExitStatus status);
    void awaitLine();
    void takeLines();
    void setFrame(const QByteArray &bytes);
    bool outputFailed();
    bool readableLevel() const;

    void reportV640Response();
    void writeRawLine(const QByteArray &text, const QByteArray &second = QByteArray());
    void reportHumanReadable();
    void reportResponseError(int responseCode);
    void formatIdTagData();
    void formatTestResponse();
    void formatModelNumberResponse();
    void formatFirmwareVersionResponse();
    void formatMacAddressResponse();
    void formatDipSwitchStatusResponse();
    void formatIPAddressResponse();
    void formatMemoryStatusResponse();
    void formatAntennaConnectionStatusResponse();
    void fromatLastCommandResponse();
    void formatCommunicationsHistoryResponse();
    void formatNoiseLevelResponse();
    void formatStatusWord(const char *nonZeroWord, const char *zeroWord);

    static QByteArray toFrameBytes(const QString &text);

    StandardInput standardInput;
    // Lines are read from standardInput; the stream decodes those that are not ASCII, as the
    // locale has them.
    QTextStream inputStream;
    QTextStream outputStream;
    QSocketNotifier *stdinNotifier = nullptr;
    QCommandLineParser parser;
    QString target = QStringLiteral("192.168.1.200");
    QIODevice *device = nullptr;
    int nodeNumber = 1;
    int outputLevel = 0;
    int timeoutInterval = 8000;
    bool errorAbort = false;
    int oneShot = 0;
    ExitStatus exitStatus = NoError;
    char frame[V640_MAX_FRAME_SIZE + 1] = {};
    QString prompt;
    QByteArray lastCommand;
    QByteArray responseBuffer;
    QByteArray lastCommandText;
    QByteArray lastResponseText;
    QTimer responseTimer;
    SerialCommunicationSetting serialSetting;

    // Set once the exit has been requested: no line is taken after that.
    bool ending = false;
    // A line is awaited: the prompt is out and no exchange runs.
    bool lineAwaited = false;
    SessionStatus sessionStatus;
    QString linkFailureReason;
    // The exchange being reported, and its answer decoded once for the readable forms.
    ExchangeRecord record;
    Commands::Answer answer;
    // The line read and the line of a raw level, kept from one exchange to the next with their
    // room.
    QByteArray inputLine;
    QByteArray rawLine;
    Diagnostics diagnostics;
    JsonReport jsonReport;
    TrafficTrace trace;
    LinkTarget linkTarget;
    ExchangeEngine engine;
    // Verify, wait, retries, the whole-tag operations and the scan.
    ProductionRun production;
    ProductionReport productionReport;
    InterruptWatcher interruptWatcher;
};

#endif

#ifndef VORSEL_PRODUCTIONRUN_H
#define VORSEL_PRODUCTIONRUN_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "exchangeoutcome.h"
#include "interruptwatcher.h"
#include "tagimage.h"

class Diagnostics;
class QCommandLineParser;
class QTextStream;

// What a production line adds around the controller's exchanges: the pages an operation wrote
// read back and compared (--verify), a frame sent again while the unit answers with an error
// end (--wait) or after an attempt that got no valid answer (--retries), the whole-tag
// operations (--dump, --restore, --compare) and the node scan as sequences of frames. The
// controller sends and reports every frame; this class says which frame comes next, whether an
// answer is shown, and how a one-shot run ends.
class ProductionRun : public QObject
{
    Q_OBJECT

public:
    // How a one-shot run ends after its last exchange, unless the controller ended it before.
    enum class Result {
        Done,
        Mismatch,     // verify or compare found a difference
        NoneAnswered, // no node answered the scan
        NotWritten,   // the image could not be written
    };

    // The fixed pause between two tries of --wait, in milliseconds.
    static const int waitInterval = 100;

    ProductionRun(QTextStream *output, const Diagnostics *diagnostics, QObject *parent = nullptr);

    // Takes its options from the parsed command line and reads image files, before anything is
    // sent. Returns why values are invalid, "--option: cause" each. A scan needs a serial link,
    // and JSON Lines on standard output leave no room for an image there.
    QStringList configure(const QCommandLineParser &parser, bool serialLink, bool json);
    // Plans a one-shot run around the frame the controller built (empty if none) and returns the
    // first frame to send.
    QByteArray start(const QByteArray &operationFrame, int node);

    // A frame went out: a new exchange, or another attempt of the same one.
    void frameSent();
    // A complete answer: true when it goes unreported because the same frame goes out again
    // (resend follows), after an answer that is not valid on the line or an error end in --wait.
    bool repeats(const QByteArray &command, const QByteArray &response);
    // An attempt got no answer or lost the link, for the reason given: true when the frame goes
    // out again.
    bool retries(const QString &reason);
    // Between an attempt and the next one of the same exchange.
    bool retrying() const { return resending; }
    // The answer's data is used, so it must have the form of the answer at every level.
    bool usesData() const;
    // At the readable levels: true when the usual report of the answer is not printed, because
    // the run prints a form of its own (a scan's node line) or nothing (a normal end of a frame
    // the run sends for itself).
    bool replacesReport(ExchangeOutcome outcome, const QByteArray &response);
    // The exchange's final outcome, with the answer if there was one.
    void exchangeEnded(ExchangeOutcome outcome, const QByteArray &response);
    // A scan goes on to the next node when one stays silent.
    bool passesOverSilence() const;
    // The next frame of a one-shot run, or empty once it is over: then result() holds.
    QByteArray advance();
    Result result() const { return ending; }
    // How often the current exchange's frame went out; counted where frames can be repeated.
    int attempts() const { return attemptCount; }
    bool countsAttempts() const { return retryLimit > 0 || waitLimit >= 0; }

signals:
    // The frame goes out again now (over a link opened anew if it was closed).
    void resend();
    // Ctrl-C, watched only with --wait.
    void interrupted();

private:
    enum class Operation { Frame, Dump, Restore, Compare, Scan };
    enum class Purpose {
        Shown,  // the operation's own frame: reported as usual
        Hidden, // a write whose normal end is not reported (a restore's first part)
        Read,   // reads pages for the run: its normal end is not reported
        Probe,  // one node of a scan
    };
    struct Step
    {
        QByteArray frame;
        Purpose purpose;
    };

    void planReads(quint32 mask, int node);
    void repeatAfter(int milliseconds);
    void conclude();
    void reportDifference(const char *what);
    void showProgress(int node);

    QTextStream *output;
    const Diagnostics *diagnostics;
    Operation operation = Operation::Frame;
    bool verify = false;
    int waitLimit = -1;
    int retryLimit = 0;
    QString dumpName;
    QSaveFile dumpFile;
    TagImage expected;
    TagImage read;
    QList<Step> steps;
    int current = 0;
    bool oneShot = false;
    bool stopped = false;
    bool anyAnswered = false;
    bool progress = false;
    Result ending = Result::Done;
    int attemptCount = 0;
    int retriesUsed = 0;
    bool resending = false;
    QElapsedTimer clock;
    QTimer pause;
    InterruptWatcher interruptWatcher;
};

#endif

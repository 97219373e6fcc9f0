#ifndef VORSEL_PRODUCTIONRUN_H
#define VORSEL_PRODUCTIONRUN_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include "exchangeengine.h"
#include "tagimage.h"

class QCommandLineParser;

// What a production line adds around the operation's exchange: the pages an operation wrote read
// back and compared (--verify), a frame sent again while the unit answers with an error end
// (--wait) or after an attempt that got no valid answer (--retries), the whole-tag operations
// (--dump, --restore, --compare) and the node scan as sequences of frames. It says which frame
// comes next and with what request; the exchange engine carries each out, and what there is to
// tell goes out through its signals.
class ProductionRun : public QObject
{
    Q_OBJECT

public:
    // How a one-shot run ends after its last exchange, unless something ended it before.
    enum class Result {
        Done,
        Mismatch,     // verify or compare found a difference
        NoneAnswered, // no node answered the scan
        NotWritten,   // the image could not be written
    };
    // What an exchange is for, which decides how it is reported.
    enum class Purpose {
        Shown,  // the operation's own frame: reported as usual
        Hidden, // a write whose normal end is not reported (a restore's first part)
        Read,   // reads pages for the run: its normal end is not reported, its data is used
        Probe,  // one node of a scan
    };

    using QObject::QObject;

    // Takes its options from the parsed command line and reads image files, before anything is
    // sent. Returns why values are invalid, "--option: cause" each. A scan needs a serial link,
    // and JSON Lines on standard output leave no room for an image there.
    QStringList configure(const QCommandLineParser &parser, bool serialLink, bool json);
    // Plans a one-shot run around the frame the command line built (empty if none) and returns
    // the first frame to send.
    QByteArray start(const QByteArray &operationFrame, int node);

    // The request for a frame: the run's next one, or an interactive line's, at `now` on the
    // engine's clock.
    ExchangeRequest request(const QByteArray &frame, qint64 now);
    Purpose purpose() const;
    // Attempts are worth telling when frames may go more than once.
    bool countsAttempts() const { return retryLimit > 0 || waitLimit >= 0; }
    // Ctrl-C ends a run that may wait long.
    bool waits() const { return waitLimit >= 0; }
    // A write is read back: every answer on the way must be a normal end for the run to succeed.
    bool verifiesWrite() const { return readsBack; }

    // The current exchange's record.
    void exchangeEnded(const ExchangeRecord &record);
    // The next frame of a one-shot run, or empty once it is over: then result() holds.
    QByteArray advance();
    Result result() const { return ending; }
    // A dump's image file name ("-" for standard output) and, once the run is done, its text.
    QString dumpName() const { return dumpTarget; }
    QByteArray dumpImage() const { return dumpText; }

signals:
    // A scan asks node N now; 0 once it is over.
    void probing(int node);
    // --verify or --compare: the first byte that differs.
    void differs(const char *what, int address, quint8 expected, quint8 read);

private:
    enum class Operation { Frame, Dump, Restore, Compare, Scan };
    struct Step
    {
        QByteArray frame;
        Purpose purpose;
    };

    void planReads(quint32 mask, int node);
    void conclude();
    bool compares(const char *what);

    Operation operation = Operation::Frame;
    bool verify = false;
    bool readsBack = false;
    int waitLimit = -1;
    int retryLimit = 0;
    QString dumpTarget;
    QByteArray dumpText;
    TagImage expected;
    TagImage read;
    QList<Step> steps;
    int current = 0;
    bool oneShot = false;
    bool stopped = false;
    bool anyAnswered = false;
    Result ending = Result::Done;
    qint64 firstFrameAt = -1;
};

#endif

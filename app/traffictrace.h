#ifndef VORSEL_TRAFFICTRACE_H
#define VORSEL_TRAFFICTRACE_H

#include <QByteArray>
#include <QFile>
#include <QString>

// --trace: a timestamped log of the traffic, one line per event, for commissioning and bug
// reports. Lines start with the local time (ISO 8601, milliseconds, zone), then the event, the
// link and, where there are any, the bytes with control characters escaped.
class TrafficTrace
{
public:
    // Appends to a regular file, or creates one readable by its owner only; "-" is standard
    // error. Why it cannot, or nothing.
    QString open(const QString &path);
    // A line could not be written: the trace is no longer a record of the run.
    bool failed() const { return writeFailed; }

    // How the link is named on every line: "host:port" or "port node N".
    void setLink(const QString &name) { link = name; }

    // The first opening is "open", every later one "reopen".
    void opened();
    void closed();
    // Nothing is built while no trace is asked for.
    // A frame sent once more for the same exchange tells its attempt.
    void sent(const QByteArray &frame, int attempt = 1);
    void answered(const QByteArray &answer, qint64 milliseconds);
    void timedOut(qint64 milliseconds, const QByteArray &partial);
    void discarded(const QByteArray &bytes);

    static QByteArray escaped(const QByteArray &bytes);

private:
    void write(const char *event, const QByteArray &detail = QByteArray());

    QFile file;
    QString link;
    bool openedBefore = false;
    bool writeFailed = false;
};

#endif

#ifndef VORSEL_JSONREPORT_H
#define VORSEL_JSONREPORT_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include "exchangeoutcome.h"

class QTextStream;

// -o json: JSON Lines on standard output, one object per exchange (per input line in
// interactive mode), versioned by the field "v" so that scripts can rely on its fields.
class JsonReport
{
public:
    void setEnabled(bool on) { enabled = on; }
    bool isEnabled() const { return enabled; }

    // The command of the exchange now going out; the clock runs from here.
    void commandSent(const QByteArray &frame);
    // Writes the object of the exchange that ended; the response is empty when none came, and
    // attempts 0 when they are not counted.
    void exchangeEnded(QTextStream &output, ExchangeOutcome outcome, const QString &reason,
                       const QByteArray &response, int attempts = 0);

    // The value a valid normal end carries, decoded by the command's form; null for none.
    static QJsonValue decodedValue(const QByteArray &command, const QByteArray &response);

private:
    bool enabled = false;
    QByteArray command;
    QElapsedTimer sinceSent;
};

#endif

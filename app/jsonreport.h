#ifndef VORSEL_JSONREPORT_H
#define VORSEL_JSONREPORT_H

#include <QJsonValue>

struct ExchangeRecord;
class QTextStream;

// -o json: JSON Lines on standard output, one object per exchange (per input line in
// interactive mode), versioned by the field "v" so that scripts can rely on its fields.
class JsonReport
{
public:
    void setEnabled(bool on) { enabled = on; }
    bool isEnabled() const { return enabled; }
    // Where frames may go more than once, every object tells how often its frame went.
    void setCountsAttempts(bool on) { countsAttempts = on; }

    void write(QTextStream &output, const ExchangeRecord &record) const;

    // The value a valid normal end carries; null for none.
    static QJsonValue value(const QByteArray &command, const QByteArray &response);

private:
    bool enabled = false;
    bool countsAttempts = false;
};

#endif

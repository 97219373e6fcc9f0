#ifndef VORSEL_SIM_CONTROLINTERPRETER_H
#define VORSEL_SIM_CONTROLINTERPRETER_H

#include <QByteArray>
#include <QList>

class Simulator;

// Carries out control commands ("fault delay 500", "page 3 0011223344556677", ...) on the
// simulator and words their replies.
class ControlInterpreter
{
public:
    explicit ControlInterpreter(Simulator *simulator);

    // The reply to one control line: "ok", "ok VALUE" or "error REASON".
    QByteArray execute(const QByteArray &line);

private:
    QByteArray fault(const QList<QByteArray> &words);
    QByteArray respond(const QList<QByteArray> &words);
    QByteArray flood(const QList<QByteArray> &words);
    QByteArray send(const QList<QByteArray> &words);
    QByteArray setField(const QByteArray &arguments);
    QByteArray getField(const QList<QByteArray> &words);
    QByteArray setPage(const QList<QByteArray> &words);

    Simulator *simulator;
};

#endif

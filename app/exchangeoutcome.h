#ifndef VORSEL_EXCHANGEOUTCOME_H
#define VORSEL_EXCHANGEOUTCOME_H

// What became of one command: the words every report and the end status are made of.
enum class ExchangeOutcome {
    Ok,            // the unit's normal end
    UnitError,     // the unit's error end
    InvalidAnswer, // an answer that is not what the unit says to this command
    Timeout,       // no complete answer in time
    NotSent,       // nothing to send: the line or value builds no frame
    LinkFailed,    // the link broke or could not be opened
    Interrupted,   // Ctrl-C ended the run
};

// What happened over a whole interactive session, for the status it ends with.
class SessionStatus
{
public:
    void record(ExchangeOutcome outcome)
    {
        unanswered |= outcome == ExchangeOutcome::Timeout || outcome == ExchangeOutcome::LinkFailed;
        refused |= outcome == ExchangeOutcome::NotSent;
    }

    // An exchange got no answer, or the link had to be reopened.
    bool anyUnanswered() const { return unanswered; }
    // A line could not be sent.
    bool anyRefused() const { return refused; }

private:
    bool unanswered = false;
    bool refused = false;
};

#endif

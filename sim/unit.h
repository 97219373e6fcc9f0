#ifndef VORSEL_SIM_UNIT_H
#define VORSEL_SIM_UNIT_H

#include "unitstate.h"

#include <QByteArray>

// The Amplifier Unit's command processing: decides which frames are its own, carries out
// commands on the state and builds the response frames.
class Unit
{
public:
    // The error ends this unit gives, by meaning.
    enum ErrorEnd : unsigned {
        FormatError = 0x14,
        NoTagInField = 0x72,
        AddressOutOfRange = 0x7B,
        NotAvailable = 0x7E,
        ValueOutOfRange = 0x9A,
    };

    Unit(UnitState *state, int node);

    // True for a frame (its bytes up to and including the CR) that the unit answers: every
    // unaddressed frame except a lone CR, and addressed frames with its node and a right FCS.
    bool accepts(const QByteArray &frame) const;

    // Carries out the command of an accepted frame and returns the response frame, addressed to
    // the same node when the command was addressed.
    QByteArray answer(const QByteArray &frame);

    void setTagInField(bool present) { tagPresent = present; }
    bool tagInField() const { return tagPresent; }

private:
    struct Outcome
    {
        unsigned code;
        QByteArray data;
    };

    Outcome carryOut(int code, const QByteArray &parameter);
    Outcome readPages(const QByteArray &parameter) const;
    Outcome writePages(const QByteArray &parameter);
    Outcome writeSamePage(const QByteArray &parameter);
    Outcome writeBytes(const QByteArray &parameter);
    Outcome setWebPassword(const QByteArray &parameter);
    Outcome storeAddress(const QByteArray &fieldName, const QByteArray &parameter);

    UnitState *state;
    int ownNode;
    bool tagPresent = true;
    QByteArray previousResponse;
};

#endif

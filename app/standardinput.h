#ifndef VORSEL_STANDARDINPUT_H
#define VORSEL_STANDARDINPUT_H

#include <QByteArray>

// Standard input, line by line. Lines that arrived together wait here, where the controller can
// see them. Reading the descriptor is left to receive(), so that half a line never blocks the
// caller. Of a line longer than lineLimit only the first lineLimit bytes are kept: enough to tell
// that it is too long, at a cost linear in its length.
class StandardInput
{
public:
    StandardInput(int descriptor, int lineLimit);

    // Reads once from the descriptor, which should be readable; true when a whole line, or the
    // end of input, is then waiting.
    bool receive();

    // A whole line, or the end of input, is waiting.
    bool hasPendingInput() const;
    // More may be read: the input has not ended, and what waits is within the bound of lines
    // read ahead.
    bool hasRoom() const { return !endOfInput && pending.size() - consumed < readAheadLimit; }
    // The next line without its line feed: a whole one, or the last one when the input ended
    // without a line feed. False when none is waiting.
    bool takeLine(QByteArray *line);

private:
    // Lines read ahead of their turn are bounded, so that input faster than the unit costs no
    // more memory than this.
    static const int readAheadLimit = 64 * 1024;

    void append(const char *bytes, int count);

    int descriptor;
    int lineLimit;
    // Lines waiting from `consumed` on, so that taking one moves no bytes.
    QByteArray pending;
    int consumed = 0;
    // Kept bytes of the line not yet ended, and whole lines waiting in pending.
    int partialLength = 0;
    int wholeLines = 0;
    bool endOfInput = false;
};

#endif

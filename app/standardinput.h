#ifndef VORSEL_STANDARDINPUT_H
#define VORSEL_STANDARDINPUT_H

#include <QByteArray>
#include <QIODevice>

// Standard input, handed out at most one line per read. A text stream reads in large blocks;
// with this device beneath it, lines that arrived together wait here, where the controller can
// see them, instead of inside the stream where no notifier would ever report them. Reading the
// descriptor is left to receive(), so that half a line never blocks the caller. Of a line longer
// than lineLimit only the first lineLimit bytes are kept: enough to tell that it is too long, at
// a cost linear in its length.
class StandardInput : public QIODevice
{
public:
    StandardInput(int descriptor, int lineLimit);

    bool isSequential() const override { return true; }
    bool atEnd() const override;
    qint64 bytesAvailable() const override;

    // Reads once from the descriptor, which should be readable; true when a whole line, or the
    // end of input, is then waiting.
    bool receive();

    // A whole line, or the end of input, is waiting to be read.
    bool hasPendingInput() const;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    void append(const char *bytes, int count);

    int descriptor;
    int lineLimit;
    QByteArray pending;
    // Kept bytes of the line not yet ended, and whole lines waiting in pending.
    int partialLength = 0;
    int wholeLines = 0;
    bool endOfInput = false;
};

#endif

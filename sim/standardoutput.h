#ifndef VORSEL_SIM_STANDARDOUTPUT_H
#define VORSEL_SIM_STANDARDOUTPUT_H

#include <QByteArray>

namespace StandardOutput {

// Writes the line and a line feed to standard output at once, unbuffered, so that a reader
// waiting for it sees it straight away. False when standard output is gone.
bool writeLine(const QByteArray &line);

} // namespace StandardOutput

#endif

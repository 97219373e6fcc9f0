#ifndef VORSEL_SIM_LINESETTINGS_H
#define VORSEL_SIM_LINESETTINGS_H

#include <QByteArray>

namespace LineSettings {

// The settings of the terminal line `fd` in the compact form BAUD PARITY DATABITS STOPBITS FLOW,
// for example "9600N81N" or "19200E72H"; empty when `fd` is no terminal.
QByteArray read(int fd);

// The numeric output baud rate of the terminal line, whatever way it was set; -1 on failure.
int baudRate(int fd);

} // namespace LineSettings

#endif

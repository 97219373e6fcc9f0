#include "linesettings.h"

#include <termios.h>

namespace LineSettings {

QByteArray read(int fd)
{
    termios settings;
    const int baud = baudRate(fd);
    if (fd < 0 || baud < 0 || tcgetattr(fd, &settings) != 0) {
        return QByteArray();
    }
    char parity = 'N';
    if ((settings.c_cflag & PARENB) != 0) {
        if ((settings.c_cflag & CMSPAR) != 0) {
            parity = (settings.c_cflag & PARODD) != 0 ? 'M' : 'S';
        } else {
            parity = (settings.c_cflag & PARODD) != 0 ? 'O' : 'E';
        }
    }
    char dataBits = '8';
    switch (settings.c_cflag & CSIZE) {
    case CS5:
        dataBits = '5';
        break;
    case CS6:
        dataBits = '6';
        break;
    case CS7:
        dataBits = '7';
        break;
    default:
        break;
    }
    const char stopBits = (settings.c_cflag & CSTOPB) != 0 ? '2' : '1';
    char flow = 'N';
    if ((settings.c_cflag & CRTSCTS) != 0) {
        flow = 'H';
    } else if ((settings.c_iflag & (IXON | IXOFF)) != 0) {
        flow = 'S';
    }
    return QByteArray::number(baud) + parity + dataBits + stopBits + flow;
}

} // namespace LineSettings

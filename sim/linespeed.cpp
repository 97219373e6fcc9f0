// Kept apart from linesettings.cpp: the kernel's termios2, which holds the baud rate as a
// number (also for rates without a Bnnn constant), cannot share a unit with <termios.h>.
#include "linesettings.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace LineSettings {

int baudRate(int fd)
{
    struct termios2 settings;
    if (fd < 0 || ioctl(fd, TCGETS2, &settings) != 0) {
        return -1;
    }
    return static_cast<int>(settings.c_ospeed);
}

} // namespace LineSettings

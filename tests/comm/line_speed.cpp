// Reads the exact line speed back; the kernel's termios2 cannot share a file with <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstdint>

extern "C" int ioctl(int fd, unsigned long request, ...);

uint32_t LineSpeed(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}

bool LineSpeedIsOther(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    return (t.c_cflag & CBAUD) == BOTHER;
}

// termios2 handling. Only kernel headers here: <asm/termbits.h> and the C library's
// <termios.h> define the same names differently.
#include "comm_posix_line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...);

static_assert(sizeof(termios2) <= sizeof(TSavedLine::raw));
static_assert(sizeof(TLineFlags) == sizeof(termios2));
static_assert(offsetof(TLineFlags, cc) == offsetof(termios2, c_cc));
static_assert(offsetof(TLineFlags, ispeed) == offsetof(termios2, c_ispeed));
static_assert(sizeof(TLineFlags::cc) == sizeof(termios2::c_cc));

namespace {

int GetLine(int fd, termios2* t) {
    for (;;) {
        if (ioctl(fd, TCGETS2, t) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int SetLine(int fd, const termios2& t) {
    for (;;) {
        if (ioctl(fd, TCSETS2, &t) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

// The speeds that have their own code; every other speed goes as BOTHER with its number, so
// that a standard speed reads back as its code with the C library's tcgetattr.
struct TSpeedCode {
    uint32_t bps;
    tcflag_t code;
};
constexpr TSpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

int LineCheck(int fd) {
    termios2 t;
    return GetLine(fd, &t);
}

void LineSave(int fd, TSavedLine* saved) {
    termios2 t;
    saved->valid = GetLine(fd, &t) == 0;
    if (saved->valid) std::memcpy(saved->raw, &t, sizeof t);
}

void LineRestore(int fd, const TSavedLine& saved) {
    if (!saved.valid) return;
    termios2 t;
    std::memcpy(&t, saved.raw, sizeof t);
    SetLine(fd, t);
}

namespace {

int Compose(const TLineSettings& s, termios2* tp) {
    termios2& t = *tp;
    if (s.bits_per_second <= 0 || s.bits_per_second > 0xFFFFFFFFLL) return EINVAL;
    tcflag_t size;
    switch (s.data_bits) {
    case da5: size = CS5; break;
    case da6: size = CS6; break;
    case da7: size = CS7; break;
    case da8: size = CS8; break;
    default: return EINVAL; // no 4-bit bytes on a UART
    }

    // Raw mode.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1; // poll() reports readable from the first byte on
    t.c_cc[VTIME] = 0;

    const auto bps = static_cast<uint32_t>(s.bits_per_second);
    tcflag_t code = BOTHER;
    for (const TSpeedCode& c : kSpeedCodes)
        if (c.bps == bps) code = c.code;
    t.c_cflag &= ~(CBAUD | CIBAUD); // input speed follows the output speed
    t.c_cflag |= code;
    t.c_ospeed = bps;
    t.c_ispeed = bps;

    t.c_cflag = (t.c_cflag & ~CSIZE) | size;
    if (s.stop_bits == sb10)
        t.c_cflag &= ~CSTOPB;
    else
        t.c_cflag |= CSTOPB;

    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (s.parity) {
    case paNone: break;
    case paOdd: t.c_cflag |= PARENB | PARODD; break;
    case paEven: t.c_cflag |= PARENB; break;
    case paMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }

    if (s.options.Contains(coParityCheck))
        t.c_iflag |= INPCK;
    else
        t.c_iflag &= ~INPCK;

    switch (s.flow) {
    case fcNone:
    case fcDTR:
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        break;
    case fcCTS:
        t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        break;
    case fcSoftware:
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag |= IXON | IXOFF;
        t.c_iflag &= ~IXANY;
        break;
    case fcDefault: break;
    }
    t.c_cc[VSTART] = s.xon;
    t.c_cc[VSTOP] = s.xoff;

    return 0;
}

} // namespace

int LineCompose(const TLineSettings& s, TLineFlags* flags) {
    termios2 t;
    std::memcpy(&t, flags, sizeof t);
    if (int e = Compose(s, &t)) return e;
    std::memcpy(static_cast<void*>(flags), &t, sizeof t);
    return 0;
}

int LineApply(int fd, const TLineSettings& s, TLineApplied* applied) {
    termios2 t;
    if (int e = GetLine(fd, &t)) return e;
    if (int e = Compose(s, &t)) return e;
    if (int e = SetLine(fd, t)) return e;
    applied->bits_per_second = t.c_ospeed;
    applied->rts_cts = (t.c_cflag & CRTSCTS) != 0;
    return 0;
}

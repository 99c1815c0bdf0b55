/* Test rig only, for wine: pseudo-terminals have no modem lines and answer TIOCMGET with an
 * error, and wine's serial event wait then fails (error 995) while its queue counts stay 0.
 * Loaded with LD_PRELOAD into wine by scripts/win-test, this answers TIOCMGET on a
 * pseudo-terminal with CTS, DSR and CD up. Never built into or loaded by the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int is_pty(int fd) {
    struct stat st;
    /* Unix98 pseudo-terminal slaves have majors 136 to 143. */
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static int (*real)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (!real) real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    int saved = errno;
    int r = real(fd, request, arg);
    if (r < 0 && request == TIOCMGET && arg && is_pty(fd)) {
        *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
        errno = saved;
        return 0;
    }
    return r;
}

/* Test rig for the serial tests under wine: makes pseudo-terminals for wine's COM ports and
 * plays their far end for a test program that asks over a TCP connection on 127.0.0.1.
 *
 *   pty_peer COUNT     prints "port P", then "pty I PATH" for each pseudo-terminal, and serves
 *                      until stdin closes (its parent ends it).
 *
 * One command a line, one answer a line:
 *   SEND I HEX        the far end of pty I sends the bytes            -> OK
 *   RECV I N MS       reads up to N bytes from pty I's far end, waiting at most MS ms in all
 *                                                                    -> DATA HEX
 *   DRAIN I           discards what pty I's far end has received      -> OK
 *   ATTR I            the terminal's settings                         -> ATTR speed bits
 *                     parity(N/O/E/M/S) stop(1/2) crtscts ixon ixoff
 * Anything else answers ERR. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define MAX_PTYS 8
static int masters[MAX_PTYS], slaves[MAX_PTYS], count;

static long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static void put_all(int fd, const unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w > 0) { p += w; n -= (size_t)w; continue; }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) { struct pollfd f = {fd, POLLOUT, 0}; poll(&f, 1, 1000); continue; }
        return;
    }
}

static unsigned speed_of(speed_t s) {
    static const struct { speed_t code; unsigned bps; } table[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
        {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    for (size_t i = 0; i < sizeof table / sizeof table[0]; ++i)
        if (table[i].code == s) return table[i].bps;
    return 0;
}

static void answer(int client, const char* line) {
    char out[65536 * 2 + 64];
    int i = -1;
    const char* space = strchr(line, ' ');
    if (!space || sscanf(space, " %d", &i) != 1 || i < 0 || i >= count) {
        dprintf(client, "ERR\n");
        return;
    }
    if (strncmp(line, "SEND", 4) == 0) {
        const char* hex = strchr(line + 5, ' ');
        unsigned char bytes[65536];
        size_t n = 0;
        if (hex)
            for (++hex; hexval(hex[0]) >= 0 && hexval(hex[1]) >= 0 && n < sizeof bytes; hex += 2)
                bytes[n++] = (unsigned char)(hexval(hex[0]) * 16 + hexval(hex[1]));
        put_all(masters[i], bytes, n);
        dprintf(client, "OK\n");
    } else if (strncmp(line, "RECV", 4) == 0) {
        int want = 0, ms = 0;
        sscanf(line + 4, " %*d %d %d", &want, &ms);
        if (want > 65536) want = 65536;
        unsigned char bytes[65536];
        int got = 0;
        long deadline = now_ms() + ms;
        while (got < want) {
            ssize_t r = read(masters[i], bytes + got, (size_t)(want - got));
            if (r > 0) { got += (int)r; continue; }
            if (r < 0 && errno == EINTR) continue;
            long left = deadline - now_ms();
            if (left <= 0) break;
            struct pollfd f = {masters[i], POLLIN, 0};
            if (poll(&f, 1, (int)left) <= 0) break;
        }
        int o = sprintf(out, "DATA ");
        for (int k = 0; k < got; ++k) o += sprintf(out + o, "%02X", bytes[k]);
        out[o++] = '\n';
        put_all(client, (unsigned char*)out, (size_t)o);
    } else if (strncmp(line, "DRAIN", 5) == 0) {
        unsigned char bytes[4096];
        while (read(masters[i], bytes, sizeof bytes) > 0) {}
        dprintf(client, "OK\n");
    } else if (strncmp(line, "ATTR", 4) == 0) {
        struct termios t;
        if (tcgetattr(slaves[i], &t) != 0) { dprintf(client, "ERR\n"); return; }
        int bits = (t.c_cflag & CSIZE) == CS5 ? 5 : (t.c_cflag & CSIZE) == CS6 ? 6
                 : (t.c_cflag & CSIZE) == CS7 ? 7 : 8;
        char parity = 'N';
        if (t.c_cflag & PARENB) {
            if (t.c_cflag & CMSPAR) parity = (t.c_cflag & PARODD) ? 'M' : 'S';
            else parity = (t.c_cflag & PARODD) ? 'O' : 'E';
        }
        dprintf(client, "ATTR %u %d %c %d %d %d %d\n", speed_of(cfgetospeed(&t)), bits, parity,
                (t.c_cflag & CSTOPB) ? 2 : 1, (t.c_cflag & CRTSCTS) ? 1 : 0,
                (t.c_iflag & IXON) ? 1 : 0, (t.c_iflag & IXOFF) ? 1 : 0);
    } else {
        dprintf(client, "ERR\n");
    }
}

int main(int argc, char** argv) {
    count = argc > 1 ? atoi(argv[1]) : 1;
    if (count < 1 || count > MAX_PTYS) return 2;
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in a = {0};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (server < 0 || bind(server, (struct sockaddr*)&a, sizeof a) != 0 || listen(server, 8) != 0 ||
        getsockname(server, (struct sockaddr*)&a, &len) != 0)
        return 1;
    printf("port %d\n", ntohs(a.sin_port));
    for (int i = 0; i < count; ++i) {
        char name[256];
        if (openpty(&masters[i], &slaves[i], name, NULL, NULL) != 0) return 1;
        struct termios t;
        tcgetattr(masters[i], &t);
        cfmakeraw(&t);
        tcsetattr(masters[i], TCSANOW, &t);
        fcntl(masters[i], F_SETFL, fcntl(masters[i], F_GETFL) | O_NONBLOCK);
        printf("pty %d %s\n", i, name);
    }
    fflush(stdout);

    /* Clients one after another; stdin closing ends the peer. */
    struct pollfd fds[2] = {{server, POLLIN, 0}, {0, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) {
            char c;
            if (read(0, &c, 1) <= 0) return 0;
        }
        if (!(fds[0].revents & POLLIN)) continue;
        int client = accept4(server, NULL, NULL, SOCK_CLOEXEC);
        if (client < 0) continue;
        char line[65536 * 2 + 64];
        size_t used = 0;
        for (;;) {
            ssize_t r = read(client, line + used, sizeof line - 1 - used);
            if (r <= 0) break;
            used += (size_t)r;
            char* end;
            while ((end = memchr(line, '\n', used)) != NULL) {
                *end = 0;
                if (end > line && end[-1] == '\r') end[-1] = 0;
                answer(client, line);
                size_t rest = used - (size_t)(end + 1 - line);
                memmove(line, end + 1, rest);
                used = rest;
            }
            if (used == sizeof line - 1) used = 0; /* an overlong line is dropped */
        }
        close(client);
    }
}

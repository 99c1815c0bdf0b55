// Renders the real console window (run it under an X server such as Xvfb) connected over a
// pseudo-terminal to a scripted target that draws a few coloured lines and box characters,
// and saves a picture of the window: quorvik-screenshot OUTPUT.png
//
// For pictures of another program's window (quorvik.exe under wine, scripts/screenshot):
//   quorvik-screenshot --serve        the scripted target alone: prints QUORVIK_COM1=/dev/pts/N,
//                                     asks the status query every 200 ms until the console
//                                     answers, sends the screen (then prints "sent"), and stays
//                                     until stdin closes
//   quorvik-screenshot --grab X Y W H OUTPUT.png
//                                     saves that part of the X screen once it has stopped
//                                     changing (at most 10 s)
#include "condos.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

std::string At(int row, int column) {
    return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

std::string ScriptedScreen() {
    std::string s = "\x1b[0m\x1b[2J";
    s += "\x1b[1;37;44m" + At(1, 1) + std::string(80, ' ');
    s += At(1, 3) + "Target board 386EX  \xb3  BIOS serial console  \xb3  COM1 115200 8N1";
    s += "\x1b[0m\x1b[1;33;40m" + At(3, 4) + "\xc9" + std::string(34, '\xcd') + "\xbb";
    const char* lines[] = {"Memory test     640K OK", "Floppy drive A: image on host",
                           "Keyboard        forwarded", "Boot device     A:"};
    for (int i = 0; i < 4; ++i) {
        s += At(4 + i, 4) + "\xba\x1b[0m\x1b[37m " + std::string(lines[i]) +
             std::string(33 - std::string(lines[i]).size(), ' ') + "\x1b[1;33m\xba";
    }
    s += At(8, 4) + "\xc8" + std::string(34, '\xcd') + "\xbc";
    const int fg[] = {31, 32, 33, 34, 35, 36, 37};
    for (int i = 0; i < 7; ++i) {
        s += At(3 + i, 44) + "\x1b[0m\x1b[" + std::to_string(fg[i]) + "m\xdb\xdb\xb2\xb1\xb0 " +
             "\x1b[1m\xdb\xdb\xb2\xb1\xb0 colour " + std::to_string(fg[i] - 30);
    }
    s += "\x1b[0m\x1b[30;47m" + At(11, 4) + " Starting MS-DOS... \x1b[0m";
    // A reset keeps the background here, so the text colours are set in full.
    s += At(13, 1) + "\x1b[37;40mA:\\>dir /w";
    s += At(15, 1) + " Volume in drive A is QUORVIK";
    s += At(16, 1) + " Directory of A:\\";
    s += At(18, 1) + "README   TXT     HELLO    TXT     AUTOEXEC BAT     CONFIG   SYS";
    s += At(19, 1) + "        4 file(s)       1,912 bytes";
    s += At(21, 1) + "A:\\>_";
    s += "\x1b[1;32m" + At(25, 1) + "F1 Help  F2 Setup  \x1b[0m\x1b[37;40m\x03 \x04 \x05 \x06 \x0e \x0f \x10 \x11 \x18 \x19";
    s += At(21, 5);
    return s;
}

// A pseudo-terminal in raw mode; its name in `name`.
bool OpenPty(int& master, int& slave, char (&name)[256]) {
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return false;
    }
    termios t;
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    return true;
}

int Serve() {
    int master = -1, slave = -1;
    char name[256];
    if (!OpenPty(master, slave, name)) return 1;
    std::printf("QUORVIK_COM1=%s\n", name);
    std::fflush(stdout);
    // The status query until the console answers: then it is connected and reading.
    bool answered = false;
    for (int i = 0; i < 600 && !answered; ++i) {
        if (write(master, "\x1bS", 2) != 2) return 1;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) == 1 && (p.revents & POLLIN)) {
            char answer[16];
            answered = read(master, answer, sizeof answer) > 0;
        }
    }
    if (!answered) {
        std::fprintf(stderr, "quorvik-screenshot: the console never answered\n");
        return 1;
    }
    const std::string screen = ScriptedScreen();
    if (write(master, screen.data(), screen.size()) != static_cast<ssize_t>(screen.size()))
        std::perror("write");
    std::printf("sent\n");
    std::fflush(stdout);
    // The line stays up while the picture is taken, until stdin closes.
    char rest[64];
    while (read(0, rest, sizeof rest) > 0) {
    }
    close(master);
    close(slave);
    return 0;
}

int Grab(int argc, char** argv) {
    QApplication app(argc, argv);
    const int x = std::atoi(argv[2]), y = std::atoi(argv[3]);
    const int w = std::atoi(argv[4]), h = std::atoi(argv[5]);
    QScreen* screen = QApplication::primaryScreen();
    // Grabs every 250 ms until two in a row are alike (drawing has settled), for 10 s at most.
    QImage last = screen->grabWindow(0, x, y, w, h).toImage();
    for (int i = 0; i < 40; ++i) {
        QTimer pause;
        pause.setSingleShot(true);
        QEventLoop wait;
        QObject::connect(&pause, &QTimer::timeout, &wait, &QEventLoop::quit);
        pause.start(250);
        wait.exec();
        const QImage next = screen->grabWindow(0, x, y, w, h).toImage();
        if (next == last) break;
        last = next;
    }
    return last.save(QString::fromLocal8Bit(argv[6])) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--serve") return Serve();
    if (argc == 7 && std::string(argv[1]) == "--grab") return Grab(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvik-screenshot OUTPUT.png (under an X server)\n"
                             "       quorvik-screenshot --serve\n"
                             "       quorvik-screenshot --grab X Y W H OUTPUT.png\n");
        return 2;
    }
    int master = -1, slave = -1;
    char name[256];
    if (!OpenPty(master, slave, name)) return 1;
    setenv("QUORVIK_COM1", name, 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvik"));
    TConDos window;
    window.show();
    const std::string screen = ScriptedScreen();
    const std::string output = argv[1];
    int status = 1;
    QTimer::singleShot(300, &window, [&] { window.Connect->click(); });
    QTimer poll;
    int ticks_after = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.MainCycleRunning()) return;
        if (ticks_after == 0) {
            if (write(master, screen.data(), screen.size()) != static_cast<ssize_t>(screen.size()))
                std::perror("write");
        }
        // Half a second of refreshes, so the cursor bar has been placed, then the picture.
        if (++ticks_after == 25) {
            const QPixmap shot = window.screen()->grabWindow(window.winId());
            status = shot.save(QString::fromStdString(output)) ? 0 : 1;
            window.close();
        }
    });
    poll.start(20);
    QTimer::singleShot(15000, [&] { app.exit(1); });
    app.exec();
    close(master);
    close(slave);
    if (status != 0) std::fprintf(stderr, "quorvik-screenshot: no picture saved\n");
    return status;
}

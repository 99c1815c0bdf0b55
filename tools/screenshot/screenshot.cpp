// Renders the real console window (run it under an X server such as Xvfb) connected over a
// pseudo-terminal to a scripted target that draws a few coloured lines and box characters,
// and saves a picture of the window: quorvik-screenshot OUTPUT.png
#include "condos.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvik-screenshot OUTPUT.png (under an X server)\n");
        return 2;
    }
    int master = -1, slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t;
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
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

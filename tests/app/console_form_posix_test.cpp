// The window logic's cases that need POSIX: an unprivileged user, file modes, mkfs.fat and
// file names that are not UTF-8.
#include "fake_view.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TempImage(const std::string& name) {
    const std::string path = testing::TempDir() + "/" + std::to_string(getpid()) + name;
    EXPECT_EQ(std::system(("rm -f '" + path + "' && mkfs.fat -C -F 12 '" + path +
                           "' 1440 > /dev/null")
                              .c_str()),
              0);
    return path;
}

// Connect in a child process that runs as an unprivileged user (root opens anything); returns
// the message box the child's form showed.
std::string OpenAsNobody(const std::string& device) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string box = "no box";
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            box = "cannot drop privileges";
        } else {
            setenv("QUORVIK_COM1", device.c_str(), 1);
            TFakeView v;
            TConsoleForm f(v);
            f.OpenComClick();
            if (!v.boxes.empty()) box = v.boxes.front();
            if (f.Connected()) box = "connected";
        }
        if (write(fds[1], box.data(), box.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string box;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) box.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return box;
}

} // namespace

TEST_F(ConsoleFormTest, ErrorOpeningComNamesTheMissingDeviceAndHowToMapOne) {
    MapCom2ToNoDevice();
    view.selected_item = 1;
    form.OpenComClick();
    ASSERT_EQ(view.boxes.size(), 1u);
    const std::string& box = view.boxes[0];
    EXPECT_NE(box.find("COM2 is /nonexistent/quorvik-test-device (QUORVIK_COM2)."), std::string::npos)
        << box;
    EXPECT_NE(box.find("No such file or directory (error 2)"), std::string::npos) << box;
    EXPECT_NE(box.find("start Quorvik with QUORVIK_COM2="), std::string::npos) << box;
}

TEST_F(ConsoleFormTest, ErrorOpeningComSaysWhyForADeniedAndAHeldPort) {
    if (getuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
    TPtyTarget target;
    const std::string path = target.SlavePath();

    // The device's mode lets only its owner in.
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const std::string denied = OpenAsNobody(path);
    EXPECT_EQ(denied.substr(0, 18), "Error Opening COM\n") << denied;
    EXPECT_NE(denied.find("COM1 is " + path), std::string::npos) << denied;
    EXPECT_NE(denied.find("Permission denied (error 13)"), std::string::npos) << denied;
    EXPECT_NE(denied.find("log out and in again"), std::string::npos) << denied;

    // Open to all, but held by another program for exclusive use.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const int holder = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    const std::string held = OpenAsNobody(path);
    close(holder);
    EXPECT_NE(held.find("Device or resource busy (error 16)"), std::string::npos) << held;
    EXPECT_NE(held.find("Another program holds the port"), std::string::npos) << held;
}

TEST_F(ConsoleFormTest, TheFloppyBoxNamesTheChosenImageAndAttachesItAtConnect) {
    // Cancelled: unchecked, the plain caption, nothing attached.
    view.controls[ciEnaFloppy].checked = true; // the click ticked it
    form.EnableFloppyClick();
    EXPECT_EQ(view.dialog_title, "Floppy Images");
    EXPECT_FALSE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    EXPECT_EQ(StatusAnswer(), "\xAA");

    // Chosen: a name that is not UTF-8 is attached as the file system spells it.
    const std::string path = TempImage("-form-\xE9t\xE9.img");
    view.dialog_answer = path;
    view.controls[ciEnaFloppy].checked = true;
    form.EnableFloppyClick();
    EXPECT_TRUE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows ... ImageFile: " +
                                std::to_string(getpid()) + "-form-\xE9t\xE9.img");
    EXPECT_EQ(StatusAnswer(), "\x55");
    EXPECT_FALSE(form.Floppy().ImageAttached()); // released at Disconnect

    // Unticked: the name leaves the caption.
    view.controls[ciEnaFloppy].checked = false;
    form.EnableFloppyClick();
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    std::remove(path.c_str());
}

TEST_F(ConsoleFormTest, LogsOnAFullDiskStopWithOneConsoleLineEachAndTheConnectionGoesOn) {
    TPtyTarget target;
    view.save_answer = "/dev/full";
    view.Do("start both", [&] {
        Choose("Start text log\u2026");
        Choose("Start line trace\u2026");
        ASSERT_TRUE(form.TextLog().Running() && form.LineTrace().Running());
        form.TextLog().Row(&form.Screen().Cell(0, 0), kScreenColumns);
        Ticks(10); // the once-a-second write
    });
    view.Then("both stopped", [&] { return !form.TextLog().Running() && !form.LineTrace().Running(); },
              [&] {
                  Ticks(20); // told once, not at every tick
                  target.Send("\x1bS");
              });
    view.Then("the connection goes on", [&] { return target.Received() == "\xAA"; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    int lines = 0;
    for (int row = 0; row < kScreenRows; ++row)
        lines += form.Screen().RowText(row).find(
                     "stopped: cannot write /dev/full: No space left on device") != std::string::npos;
    EXPECT_EQ(lines, 2);
}

// The window logic's cases that need POSIX: an unprivileged user, file modes, mkfs.fat, file
// names that are not UTF-8, and a device that goes away (the serial component on
// pseudo-terminals where the device is the subject, else the port in memory).
#include "fake_view.h"
#include "loopback.h"
#include "test_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TempImage(const std::string& name) {
    const std::string path = TestPath(name);
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

TEST_F(RealPortFormTest, ErrorOpeningComNamesTheMissingDeviceAndHowToMapOne) {
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

TEST_F(RealPortFormTest, ErrorOpeningComSaysWhyForADeniedAndAHeldPort) {
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
    const std::string path = TempImage("form-\xE9t\xE9.img");
    view.dialog_answer = path;
    view.controls[ciEnaFloppy].checked = true;
    form.EnableFloppyClick();
    EXPECT_TRUE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows ... ImageFile: form-\xE9t\xE9.img");
    EXPECT_EQ(StatusAnswer(), "\x55");
    EXPECT_FALSE(form.Floppy().ImageAttached()); // released at Disconnect

    // Unticked: the name leaves the caption.
    view.controls[ciEnaFloppy].checked = false;
    form.EnableFloppyClick();
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows");
    std::remove(path.c_str());
}

namespace {

// The rows one after the other, so that a line that wrapped reads as one.
std::string ScreenText(TConsoleForm& form) {
    std::string text;
    for (int row = 0; row < kScreenRows; ++row) text += form.Screen().RowText(row);
    return text;
}

} // namespace

// The port is reached through a symbolic link that is first pointed at one pseudo-terminal,
// which hangs up, and then at a new one, as udev does for a USB adapter plugged in again.
TEST_F(RealPortFormTest, APortThatGoesAwayIsWaitedForAndTheConnectionGoesOnWhenItIsBack) {
    const std::string link = TestPath("ttyLINK");
    auto first = std::make_unique<TPtyTarget>();
    std::remove(link.c_str());
    ASSERT_EQ(symlink(first->SlavePath().c_str(), link.c_str()), 0);
    setenv("QUORVIK_COM1", link.c_str(), 1);
    std::unique_ptr<TPtyTarget> second;
    std::string second_path;
    view.Do("hold the keys, then hang up", [&] { first->Send("\x1bS"); });
    view.Then("answered", [&] { return !first->Received().empty(); }, [&] { first.reset(); });
    view.Then("gone",
              [&] { return form.WaitingForPort(); },
              [&] {
                  EXPECT_EQ(Status(), "Error");
                  EXPECT_FALSE(form.Port().Enabled());
                  EXPECT_EQ(PanelMismatch(true), "");
                  EXPECT_NE(ScreenText(form).find("COM1 (" + link +
                                                   ") went away; waiting for it to come back"),
                            std::string::npos)
                      << ScreenText(form);
                  Ticks(10); // a try while nothing is there
                  EXPECT_TRUE(form.WaitingForPort());
                  second = std::make_unique<TPtyTarget>();
                  setenv("QUORVIK_COM1", link.c_str(), 1);
                  std::remove(link.c_str());
                  ASSERT_EQ(symlink(second->SlavePath().c_str(), link.c_str()), 0);
                  Ticks(9);
                  EXPECT_TRUE(form.WaitingForPort()); // once a second, not at every tick
                  Ticks(1);
                  EXPECT_FALSE(form.WaitingForPort());
                  EXPECT_TRUE(form.Port().Enabled());
                  EXPECT_NE(ScreenText(form).find("COM1 is back"), std::string::npos);
                  // The key hold is on: no refresh request. The main cycle goes on.
                  second->Send("\x1bQ\x1bS");
              });
    view.Then("the status query answered on the new port",
              [&] { return !second->Received().empty(); },
              [&] {
                  EXPECT_EQ(second->Received(), "\xAA");
                  second->Send("\x1bQ");
              });
    view.Then("the keys released", [&] { return !form.Link().key_hold; },
              [&] { second.reset(); }); // away again: this time the refresh request follows
    view.Then("gone again", [&] { return form.WaitingForPort(); },
              [&] {
                  second = std::make_unique<TPtyTarget>();
                  setenv("QUORVIK_COM1", link.c_str(), 1);
                  std::remove(link.c_str());
                  ASSERT_EQ(symlink(second->SlavePath().c_str(), link.c_str()), 0);
                  Ticks(10);
              });
    view.Then("the refresh request", [&] { return second->Received() == "\x12"; },
              [&] {
                  second.reset();
              });
    view.Then("gone a third time", [&] { return form.WaitingForPort(); },
              [&] {
                  form.CloseComClick(); // Disconnect ends the waiting at once
                  EXPECT_FALSE(form.WaitingForPort());
                  second = std::make_unique<TPtyTarget>();
                  setenv("QUORVIK_COM1", link.c_str(), 1);
                  std::remove(link.c_str());
                  ASSERT_EQ(symlink(second->SlavePath().c_str(), link.c_str()), 0);
                  Ticks(20);
                  EXPECT_FALSE(form.Port().Enabled());
              });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    EXPECT_EQ(PanelMismatch(false), "");
    std::remove(link.c_str());
}

namespace {

int Command(const std::vector<TMenuEntry>& entries, const std::string& caption) {
    for (const TMenuEntry& e : entries)
        if (e.caption == caption) return e.enabled ? e.command : -2;
    return -3;
}

} // namespace

TEST_F(RealPortFormTest, TheComGroupsMenuMapsTheSelectedItemToANetworkPortForThisRun) {
    const std::string at_start = view.item_hints[1]; // what COM2 opens at start
    EXPECT_EQ(at_start.rfind("COM2 is /", 0), 0u) << at_start;
    view.selected_item = 1;
    const int port = FreeLoopbackPort(); // refuses connections
    view.network_answer = TNetworkPortDesc{"127.0.0.1", port, false};
    std::vector<TMenuEntry> shown;
    view.menu_answer = [&](const std::vector<TMenuEntry>& entries) {
        shown = entries;
        return Command(entries, "Network port...");
    };
    form.ControlContextMenu(ciCOMGroup, 420, 20);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front().caption, at_start);
    EXPECT_FALSE(shown.front().enabled);
    EXPECT_EQ(Command(shown, "As at start"), -2); // nothing chosen yet
    const std::string url = "tcp://127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(view.item_hints[1], "COM2 is " + url + " (chosen for this run).");
    EXPECT_EQ(view.item_hints[0].rfind("COM1 is ", 0), 0u);

    // Connect opens exactly that, and the box says what the item maps to.
    form.OpenComClick();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].rfind("Error Opening COM\nCOM2 is " + url + " (chosen for this run).\n", 0),
              0u) << view.boxes[0];
    EXPECT_NE(view.boxes[0].find("refused the connection"), std::string::npos) << view.boxes[0];
    EXPECT_EQ(PanelMismatch(false), "");

    // The dialog starts from the last answer; a bad one maps nothing and says why.
    view.network_answer = TNetworkPortDesc{"", 2217, true};
    form.ControlContextMenu(ciCOMGroup, 420, 20);
    ASSERT_EQ(view.network_dialog_shown.size(), 2u);
    EXPECT_EQ(view.network_dialog_shown[1].port, port);
    ASSERT_EQ(view.boxes.size(), 2u);
    EXPECT_NE(view.boxes[1].find("the host is empty"), std::string::npos) << view.boxes[1];
    EXPECT_EQ(view.item_hints[1], "COM2 is " + url + " (chosen for this run).");

    // Back to what it opened at start; a cancelled dialog changes nothing.
    view.menu_answer = [&](const std::vector<TMenuEntry>& e) { return Command(e, "As at start"); };
    form.ControlContextMenu(ciCOMGroup, 420, 20);
    EXPECT_EQ(view.item_hints[1], at_start);
    view.network_answer.reset();
    view.menu_answer = [&](const std::vector<TMenuEntry>& e) { return Command(e, "Network port..."); };
    form.ControlContextMenu(ciCOMGroup, 420, 20);
    EXPECT_EQ(view.item_hints[1], at_start);
    EXPECT_EQ(view.boxes.size(), 2u);
}

TEST_F(ConsoleFormTest, LogsOnAFullDiskStopWithOneConsoleLineEachAndTheConnectionGoesOn) {
    view.save_answer = "/dev/full";
    view.Do("start both", [&] {
        Choose("Start text log...");
        Choose("Start line trace...");
        ASSERT_TRUE(form.TextLog().Running() && form.LineTrace().Running());
        form.TextLog().Row(&form.Screen().Cell(0, 0), kScreenColumns);
        Ticks(10); // the once-a-second write
    });
    view.Then("both stopped", [&] { return !form.TextLog().Running() && !form.LineTrace().Running(); },
              [&] {
                  Ticks(20); // told once, not at every tick
                  port->Send("\x1bS");
              });
    view.Then("the connection goes on", [&] { return port->Received() == "\xAA"; },
              [&] { form.CloseComClick(); });
    EXPECT_EQ(RunConnected(), std::vector<std::string>{});
    int lines = 0;
    for (int row = 0; row < kScreenRows; ++row)
        lines += form.Screen().RowText(row).find(
                     "stopped: cannot write /dev/full: No space left on device") != std::string::npos;
    EXPECT_EQ(lines, 2);
}

// The "Floppy..." box's menu: a folder served as a floppy and what the target changed kept
// beside it, a folder that cannot be served refused in one box, a new blank image chosen.
TEST_F(ConsoleFormTest, TheFloppyMenuServesAFolderRefusesOneThatCannotBeAndWritesNewImages) {
    namespace fs = std::filesystem;
    const std::string folder = TestPath("Work");
    fs::create_directory(folder);
    std::ofstream(folder + "/hello.txt") << "hello\r\n";
    view.folder_answer = folder;
    view.menu_answer = [](const auto& e) { return TFakeView::Command(e, "Folder as floppy..."); };
    form.ControlContextMenu(ciEnaFloppy, 340, 20);
    ASSERT_EQ(view.menus.size(), 1u);
    EXPECT_EQ(view.menus[0][2].caption, "Image file...");
    EXPECT_FALSE(view.menus[0].back().enabled) << "no folder to save yet";
    EXPECT_TRUE(view.controls[ciEnaFloppy].checked);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows ... Folder: Work");
    EXPECT_EQ(StatusAnswer(), "\x55");
    EXPECT_TRUE(view.boxes.empty());
    // Nothing changed: no folder of changes beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(TestDir()), fs::directory_iterator()), 1);

    // Saved as an image: an ordinary image the form attaches like any other.
    view.save_answer = TestPath("work.img");
    view.menu_answer = [](const auto& e) { return TFakeView::Command(e, "Save floppy as image..."); };
    form.ControlContextMenu(ciEnaFloppy, 340, 20);
    ASSERT_TRUE(view.boxes.empty()) << view.boxes[0];
    EXPECT_EQ(fs::file_size(TestPath("work.img")), 1474560u);

    // A name FAT cannot hold: one box naming it, nothing attached, the connection goes on.
    std::ofstream(folder + "/a<b.txt") << "x";
    EXPECT_EQ(StatusAnswer(), "\xAA");
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_NE(view.boxes[0].find("a<b.txt"), std::string::npos) << view.boxes[0];

    // A new blank image: the format and label asked, then the file; it becomes the image.
    view.new_image_answer = TNewImageDesc{1, "SCRATCH"}; // 720 KB
    view.save_answer = TestPath("blank.img");
    view.menu_answer = [](const auto& e) { return TFakeView::Command(e, "New blank image..."); };
    form.ControlContextMenu(ciEnaFloppy, 340, 20);
    EXPECT_EQ(fs::file_size(TestPath("blank.img")), 737280u);
    EXPECT_EQ(view.caption, "Quorvik V1.00 for Windows ... ImageFile: blank.img");
    EXPECT_EQ(StatusAnswer(), "\x55");
    EXPECT_EQ(form.Floppy().Image().Geometry().sectors_per_track, 9u);
}

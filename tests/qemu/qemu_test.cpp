// The console against a real PC: QEMU with SeaBIOS, the target ROM on its COM1, and the real
// window (offscreen) serving a floppy image over a pseudo-terminal. Neither SeaBIOS nor
// SYSLINUX was written here, and the ROM shares no code with the console.
#include "fat_format.h"
#include "qemu_target.h"
#include "sim_target.h"
#include "test_dir.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <QKeyEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    if (!f) throw std::runtime_error("cannot write " + path);
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// menu.cfg: "MENU COLOR sel 1;37;41", bright white on red.
constexpr uint8_t kMenuBar = 0x4F;

class QemuTarget : public TWindowTest {
  protected:
    void TearDown() override {
        qemu.reset();
        TWindowTest::TearDown();
    }
    void StartQemu() {
        log = TestPath("com1.log");
        qemu = std::make_unique<TQemuTarget>(QUORVIK_QEMU, QUORVIK_ROM, log);
    }
    void StartQemuOnTcp() {
        qemu = std::make_unique<TQemuTarget>(QUORVIK_QEMU, QUORVIK_ROM, TQemuTarget::TTcp{});
    }
    // A formatted floppy whose boot sector is write_sector.asm, its BPB kept.
    std::string MakeWriteImage() {
        const std::string image = TestPath("write.img");
        const std::string format = "rm -f " + image +
                                   " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -C -F 12 " + image +
                                   " 1440 >/dev/null";
        if (std::system(format.c_str()) != 0) throw std::runtime_error("mkfs.fat " + image);
        std::string disk = FileBytes(image);
        const std::string boot = FileBytes(QUORVIK_WRITE_SECTOR);
        if (disk.size() != 1440u * 1024 || boot.size() != 512u)
            throw std::runtime_error("unexpected sizes of " + image);
        disk.replace(0, 3, boot, 0, 3);
        disk.replace(0x3E, 512 - 0x3E, boot, 0x3E, 512 - 0x3E);
        WriteFile(image, disk);
        return image;
    }
    // The boot sector's verdict has been printed; it ends with a full stop.
    bool Verdict() {
        const int row = RowOf("WRITE ");
        return row >= 0 && window->Screen().RowText(row).find('.') != std::string::npos;
    }
    // The three sectors of write_sector.asm are in the image, and nothing else changed.
    void ExpectWritten(const std::string& image, const std::string& before) {
        const std::string after = FileBytes(image);
        ASSERT_EQ(after.size(), before.size());
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 512; ++j)
                ASSERT_EQ(static_cast<uint8_t>(after[(1455 + k) * 512 + j]),
                          static_cast<uint8_t>(7 * j + 85 * k + 1))
                    << "sector " << 1455 + k << " byte " << j;
        EXPECT_TRUE(after.substr(0, 1455 * 512) == before.substr(0, 1455 * 512));
        EXPECT_TRUE(after.substr(1458 * 512) == before.substr(1458 * 512));
    }
    // The row that shows `text`, or -1.
    int RowOf(const std::string& text) {
        for (int row = 0; row < 25; ++row)
            if (window->Screen().RowText(row).find(text) != std::string::npos) return row;
        return -1;
    }
    bool Shows(const std::string& text) { return RowOf(text) >= 0; }
    // Whether the menu bar stands on the entry `label`.
    bool BarOn(const std::string& label) {
        const int row = RowOf(label);
        if (row < 0) return false;
        const int column = static_cast<int>(window->Screen().RowText(row).find(label));
        return window->Screen().Cell(row, column).attr == kMenuBar;
    }
    // Whether the screen has not changed for `quiet` (true once, as a condition polled by a
    // TStepper, when that much time has passed since the last change it saw).
    bool Still(std::chrono::milliseconds quiet) {
        const auto now = std::chrono::steady_clock::now();
        const std::string text = ScreenText();
        if (text != still_text_) {
            still_text_ = text;
            still_since_ = now;
        }
        return now - still_since_ >= quiet;
    }
    std::string ScreenText() {
        std::string all;
        for (int row = 0; row < 25; ++row) all += window->Screen().RowText(row) + "\n";
        return all;
    }
    // Every row the console keeps, history first, as text.
    std::vector<std::string> KeptRows() {
        const TConsoleArea& area = window->Form().Area();
        std::vector<std::string> rows;
        const int64_t first = area.LineOf(0) - window->Form().History().Size();
        for (int64_t line = first; line < area.LineOf(0) + 25; ++line) {
            const TCell* cells = area.LineCells(line);
            std::string text;
            for (int c = 0; c < 80; ++c) text += char(cells[c].ch);
            rows.push_back(text);
        }
        return rows;
    }
    std::unique_ptr<TQemuTarget> qemu;
    std::string log;
    std::string still_text_;
    std::chrono::steady_clock::time_point still_since_;
};

TEST_F(QemuTarget, SyslinuxBootsToItsPromptItsMenuFollowsTheArrowKeysAndRedrawsOnRequest) {
    const std::string image = TestPath("syslinux.img");
    WriteFile(image, FileBytes(QUORVIK_ROM_FLOPPY));
    AttachImage(image);
    StartQemu();
    const auto started = std::chrono::steady_clock::now();
    double boot_seconds = 0;
    TRequestTally at_prompt;
    const std::string first = "Boot this floppy again";
    const std::string second = "Back to the boot: prompt";
    std::string menu;
    size_t clears = 0;
    TStepper steps;
    steps
        .Then("the boot: prompt", [&] { return Shows("boot:"); },
              [&] {
                  boot_seconds = Seconds(std::chrono::steady_clock::now() - started);
                  at_prompt = TallyRequests(FileBytes(log));
                  EXPECT_TRUE(Shows("SYSLINUX")) << ScreenText();
              },
              90s)
        .Then("the menu, its bar on the first entry",
              [&] { return Shows("Quorvik: a PC booting over the serial line") && BarOn(first); },
              [&] {
                  EXPECT_FALSE(BarOn(second)) << ScreenText();
                  Tap(Qt::Key_Down, 108);
              },
              60s)
        .Then("the bar on the second entry", [&] { return BarOn(second) && !BarOn(first); },
              [&] { Tap(Qt::Key_Up, 103); }, 20s)
        .Then("the bar back on the first entry, the screen still",
              [&] { return BarOn(first) && !BarOn(second) && Still(500ms); },
              [&] {
                  menu = ScreenText();
                  clears = Count(FileBytes(log), "\x1b[2J");
                  // The picture in the README (scripts/screenshot --qemu).
                  if (const char* picture = std::getenv("QUORVIK_QEMU_PICTURE")) {
                      window->ScreenRefresh();
                      EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(picture)));
                  }
                  window->Rscr->click();
              },
              20s)
        // "R": the PC clears the console's screen and sends all of it again.
        .Then("the menu drawn again",
              [&] { return Count(FileBytes(log), "\x1b[2J") > clears && ScreenText() == menu; },
              [&] { window->CloseComClick(); }, 20s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    // The frame around the menu is drawn with the box glyphs of the PC's code page.
    const int title = RowOf("Quorvik: a PC booting over the serial line");
    ASSERT_GT(title, 0);
    EXPECT_NE(window->Screen().RowText(title - 1).find('\xDA'), std::string::npos) << ScreenText();
    EXPECT_GT(at_prompt.sectors_read, 0);
    std::printf("[ figures  ] boot: after %.1f s, %d requests, %d sectors read\n", boot_seconds,
                at_prompt.requests, at_prompt.sectors_read);
}

TEST_F(QemuTarget, OverTcpSyslinuxBootsToItsPromptAsOverThePseudoTerminal) {
    const std::string image = TestPath("syslinux-tcp.img");
    WriteFile(image, FileBytes(QUORVIK_ROM_FLOPPY));
    AttachImage(image);
    StartQemuOnTcp();
    const auto started = std::chrono::steady_clock::now();
    TStepper steps;
    steps.Then("the boot: prompt", [&] { return Shows("boot:"); },
               [&] {
                   EXPECT_TRUE(Shows("SYSLINUX")) << ScreenText();
                   std::printf("[ figures  ] boot: over tcp:// after %.1f s\n",
                               Seconds(std::chrono::steady_clock::now() - started));
                   window->CloseComClick();
               },
               90s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
}

// SYSLINUX at its boot: prompt, told of kernels it cannot find, fills the PC's screen, which the
// BIOS scrolls and the ROM redraws cell by cell: every line it wrote is kept once, in order.
TEST_F(QemuTarget, SyslinuxsScrollingOutputEntersTheHistoryOnceInOrder) {
    const std::string image = TestPath("syslinux.img");
    WriteFile(image, FileBytes(QUORVIK_ROM_FLOPPY));
    AttachImage(image);
    StartQemu();
    constexpr int kCommands = 12;

    int typed = 0;
    auto prompts = [&] {
        int n = 0;
        for (const std::string& row : KeptRows()) n += row.rfind("boot:", 0) == 0;
        return n;
    };
    auto type = [&] {
        Tap(Qt::Key_Z, 44); // "za", four times, then "zaa", ...
        for (int i = 0; i <= typed; i += 4) Tap(Qt::Key_A, 30);
        Tap(Qt::Key_Return, 28);
        ++typed;
    };
    TStepper steps;
    // The console's own lines at Connect moved its screen away from the PC's; "R" has the PC
    // send its whole screen again (and the console keeps what the clear takes away).
    size_t kept_before_r = 0;
    steps.Then("the boot: prompt", [&] { return Shows("boot:"); },
               [&] {
                   Tap(Qt::Key_Shift, 42); // a key that stops the prompt's time-out and sends nothing
                   kept_before_r = KeptRows().size();
                   window->Rscr->click();
               },
               90s)
        .Then("the screen sent again", [&] { return KeptRows().size() > kept_before_r && Shows("boot:"); },
              [&] { type(); }, 20s);
    for (int i = 1; i < kCommands; ++i)
        steps.Then("prompt " + std::to_string(i + 1), [&, i] { return prompts() > i; },
                   [&] { type(); }, 20s);
    steps.Then("the last prompt, the screen still",
               [&] { return prompts() > kCommands && Still(500ms); },
               [&] { window->CloseComClick(); }, 20s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    // From the screen the PC sent again on "R" (what the clear took is kept before it): its
    // lines, then every prompt and answer once, in order, across history and screen.
    std::vector<std::string> rows;
    std::string all;
    for (std::string row : KeptRows()) {
        row.erase(row.find_last_not_of(' ') + 1);
        all += row + "\n";
        rows.push_back(row);
    }
    std::vector<size_t> starts;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].rfind("SeaBIOS", 0) == 0) starts.push_back(i);
    ASSERT_EQ(starts.size(), 2u) << all;
    std::vector<std::string> after(rows.begin() + long(starts[1]) + 2, rows.end());
    while (!after.empty() && after.back().empty()) after.pop_back();
    std::vector<std::string> expected = {after.empty() ? "" : after[0]};
    EXPECT_EQ(expected[0].rfind("SYSLINUX", 0), 0u) << all;
    for (int i = 0; i < kCommands; ++i) {
        const std::string name = "z" + std::string(size_t(i / 4 + 1), 'a');
        expected.push_back("boot: " + name);
        expected.push_back("Loading " + name + "... failed: No such file or directory");
    }
    expected.push_back("boot:");
    EXPECT_EQ(after, expected) << all;
    EXPECT_GE(window->Form().History().Size(), 10 + 3) << all; // the clear's rows, then scrolled ones
}

TEST_F(QemuTarget, WithoutAnImageThePcSaysSoOnTheConsole) {
    StartQemu();
    TStepper steps;
    steps.Then("the message", [&] { return Shows("no floppy image"); },
               [&] { window->CloseComClick(); }, 60s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    EXPECT_EQ(TallyRequests(FileBytes(log)).requests, 0);
}

TEST_F(QemuTarget, SectorsWrittenThroughTheBiosLandInTheImageAndReadBackAlsoAfterAReboot) {
    const std::string image = MakeWriteImage();
    const std::string disk = FileBytes(image);
    AttachImage(image);
    StartQemu();
    TStepper steps;
    // Then the reboot code ("Del", shown while Ctrl and Alt are down) starts the PC over: the
    // ROM clears the console's screen and the boot sector runs again.
    steps.Then("the boot sector's verdict", [&] { return Verdict(); },
               [&] {
                   EXPECT_TRUE(Shows("WRITE OK.")) << ScreenText();
                   Key(QEvent::KeyPress, Qt::Key_Control, 29);
                   Key(QEvent::KeyPress, Qt::Key_Alt, 56);
               },
               60s)
        .Then("Del shown", [&] { return window->ButtonDel->isVisible(); },
              [&] {
                  window->ButtonDel->click();
                  Key(QEvent::KeyRelease, Qt::Key_Alt, 56);
                  Key(QEvent::KeyRelease, Qt::Key_Control, 29);
              })
        .Then("the screen cleared by the reboot", [&] { return !Shows("WRITE "); }, [] {}, 30s)
        .Then("the verdict after the reboot", [&] { return Verdict(); }, [&] { window->CloseComClick(); }, 60s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    EXPECT_TRUE(Shows("WRITE OK.")) << ScreenText();

    ExpectWritten(image, disk);
    const TRequestTally tally = TallyRequests(FileBytes(log));
    EXPECT_EQ(tally.sectors_written, 6);
}

// The console and the ROM each check the other's frames: a spoiled sector is refused with AA,
// the exchange is dropped, and the ROM sends the whole request again once the line is quiet.
TEST_F(QemuTarget, AFrameSpoiledOnTheLineIsRefusedAndTheRequestRepeated) {
    const std::string image = MakeWriteImage();
    const std::string disk = FileBytes(image);
    AttachImage(image);
    StartQemu();
    // To the PC: the boot sector's data frame (after its reply). To the console: the first data
    // frame of the write (after the boot sector's two read requests and the write request).
    TFaultyLine line(2, 4);
    TStepper steps;
    steps.Then("the boot sector's verdict", [&] { return Verdict(); },
               [&] { window->CloseComClick(); }, 60s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    EXPECT_TRUE(Shows("WRITE OK.")) << ScreenText();
    EXPECT_EQ(line.Flipped(), 2);
    ExpectWritten(image, disk);
    // Boot sector read twice, the write twice, the read back in two pieces (3 + 17 sectors).
    const TRequestTally tally = TallyRequests(FileBytes(log));
    EXPECT_EQ(tally.requests, 6);
    EXPECT_EQ(tally.sectors_written, 6);
}

// A new blank image of ours: its boot sector says so on the PC's screen, and a key has the BIOS
// load the boot sector again (INT 19h).
TEST_F(QemuTarget, ABlankImageSaysItIsNoSystemDiskAndAKeyLoadsTheBootSectorAgain) {
    const std::string image = TestPath("blank.img");
    ASSERT_EQ(WriteBlankImage(image, *FindFatFormat("1.44M"), "Blank"), "");
    AttachImage(image);
    StartQemu();
    int reads_before_key = 0;
    TStepper steps;
    steps.Then("the message", [&] { return Shows("Not a system disk.") && Shows("Press any key"); },
               [&] {
                   reads_before_key = TallyRequests(FileBytes(log)).sectors_read;
                   Tap(Qt::Key_Return, 28);
               },
               60s)
        .Then("the boot sector read again",
              [&] { return TallyRequests(FileBytes(log)).sectors_read > reads_before_key; },
              [&] { window->CloseComClick(); }, 30s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
    EXPECT_EQ(reads_before_key, 1) << "the boot sector alone";
}

// The same blank image made bootable with Debian's syslinux: SYSLINUX starts from it.
TEST_F(QemuTarget, SyslinuxBootsFromABlankImageMadeBootableWithItsInstaller) {
    const std::string image = TestPath("blank-syslinux.img");
    ASSERT_EQ(WriteBlankImage(image, *FindFatFormat("1.44M"), "Boot me"), "");
    const std::string install = std::string(QUORVIK_SYSLINUX_PROGRAM) + " --install " + image;
    ASSERT_EQ(std::system(install.c_str()), 0) << install;
    AttachImage(image);
    StartQemu();
    TStepper steps;
    steps.Then("the boot: prompt", [&] { return Shows("boot:"); },
               [&] {
                   EXPECT_TRUE(Shows("SYSLINUX")) << ScreenText();
                   window->CloseComClick();
               },
               90s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{})
        << ScreenText() << qemu->Output();
}

} // namespace

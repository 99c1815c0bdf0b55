// What the simulator draws, taken apart by the console's own main cycle and escape interpreter:
// exact attributes, the status screen, keys shown, and the commands on a served FAT12 floppy.
#include "console_rig.h"
#include "disk_access.h"
#include "fakes.h"
#include "interactive.h"
#include "screen_out.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs bytes through the console's main cycle and returns its screen.
TScreen Show(const std::vector<uint8_t>& bytes) {
    auto rig = std::make_unique<TCoreRig>();
    TCoreRig* r = rig.get();
    r->host.idle = [r] {
        if (r->link.queue.QueueEmpty()) r->link.stop_request = true;
    };
    rig->StepDeliver(bytes);
    rig->Run();
    return rig->screen;
}

bool ScreenHas(const TScreen& s, const std::string& text, int* row = nullptr) {
    for (int r = 0; r < kScreenRows; ++r) {
        if (s.RowText(r).find(text) != std::string::npos) {
            if (row) *row = r;
            return true;
        }
    }
    return false;
}

std::string Dump(const TScreen& s) {
    std::string out;
    for (int r = 0; r < kScreenRows; ++r)
        out += s.RowText(r) + "\n";
    return out;
}

// A session whose console is a socket: what it sends is collected for Show().
struct TLooseSession {
    int fds[2];
    std::unique_ptr<TLine> line;
    std::unique_ptr<TTargetEngine> engine;
    std::unique_ptr<TInteractiveSession> session;
    TLooseSession() {
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        line = std::make_unique<TLine>(fds[1]);
        TEngineTimes t;
        t.answer_ms = 50;
        engine = std::make_unique<TTargetEngine>(*line, t);
        session = std::make_unique<TInteractiveSession>(*engine, TInteractiveOptions{"/dev/pts/7"});
    }
    ~TLooseSession() { close(fds[0]); }
    std::vector<uint8_t> Sent() {
        std::vector<uint8_t> got;
        uint8_t buf[8192];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
            got.insert(got.end(), buf, buf + n);
        return got;
    }
    void Keys(const std::string& hex) {
        for (uint8_t b : Hex(hex))
            session->OnByte(b);
    }
};

} // namespace

TEST(TargetScreen, EveryAttributeIsSetExactlyWhateverCameBefore) {
    TScreenOut out;
    for (int a = 0; a < 256; ++a) {
        const uint8_t before = uint8_t(a * 37 + 11) & 0x7F;
        out.Goto(a / 80, a % 80).Attr(before).Text("x");
        out.Invalidate();
        out.Goto(a / 80, a % 80).Attr(uint8_t(a)).Text("y");
    }
    const TScreen s = Show(out.Bytes());
    for (int a = 0; a < 256; ++a) {
        // Both nibbles bright cannot be reached: the foreground loses its bright bit.
        const uint8_t want = (a & 0x88) == 0x88 ? uint8_t(a & 0xF7) : uint8_t(a);
        EXPECT_EQ(s.Cell(a / 80, a % 80).attr, want) << "attribute " << a;
        EXPECT_EQ(s.Cell(a / 80, a % 80).ch, 'y');
    }
}

TEST(TargetScreen, TextNeverCarriesBytesTheConsoleWouldTakeForCommands) {
    TScreenOut out;
    out.Goto(3, 0).Text(std::string("a\x1b"
                                    "Db\0c\r\nd",
                                    9));
    const TScreen s = Show(out.Bytes());
    EXPECT_EQ(s.RowText(3).substr(0, 9), "a.Db.c..d");
}

TEST(TargetScreen, StatusScreenHasTitleBoxesHelpLineAndTheImageState) {
    TLooseSession t;
    t.session->Start(TStatusAnswer::saImage);
    const TScreen s = Show(t.Sent());
    EXPECT_EQ(s.RowText(0).substr(0, 26), " Quorvik target simulator ");
    EXPECT_EQ(s.Cell(0, 1).attr, 0x1F);
    EXPECT_NE(s.RowText(0).find("line /dev/pts/7"), std::string::npos);
    EXPECT_EQ(s.Cell(1, 0).ch, cp437::kDblTopLeft);
    EXPECT_EQ(s.Cell(1, 79).ch, cp437::kDblTopRight);
    EXPECT_EQ(s.Cell(6, 0).ch, cp437::kDblBottomLeft);
    EXPECT_EQ(s.Cell(7, 0).ch, cp437::kTopLeft);
    EXPECT_EQ(s.Cell(21, 79).ch, cp437::kBottomRight);
    EXPECT_EQ(s.RowText(24).substr(0, 13), " dir  type NA");
    EXPECT_EQ(s.Cell(24, 79).attr, 0x30);
    EXPECT_TRUE(ScreenHas(s, "attached (status query: 55)")) << Dump(s);
    EXPECT_EQ(s.CursorRow(), TInteractiveSession::kCommandRow);
    EXPECT_EQ(s.CursorColumn(), 9);
}

TEST(TargetScreen, KeysAreShownAsHexAndNameAndTypedTextEditsTheCommandLine) {
    TLooseSession t;
    t.session->Start(TStatusAnswer::saNoImage);
    t.Keys("1B 5B 41");
    EXPECT_EQ(t.session->LastKey(), "1B 5B 41   Up");
    t.Keys("64 69 72 78 08");
    std::vector<uint8_t> all = t.Sent();
    const TScreen s = Show(all);
    EXPECT_EQ(s.RowText(3).substr(17, 14), "08   Backspace");
    EXPECT_EQ(s.RowText(TInteractiveSession::kCommandRow).substr(0, 13), "Command> dir ");
    EXPECT_TRUE(ScreenHas(s, "none (status query: AA)"));
}

TEST(TargetScreen, RefreshRequestRedrawsEverythingAndIsReported) {
    TLooseSession t;
    t.session->Start(TStatusAnswer::saImage);
    t.Sent();
    t.Keys("12");
    const TScreen s = Show(t.Sent()); // only what the refresh sent
    EXPECT_EQ(t.session->Refreshes(), 1);
    EXPECT_EQ(s.Cell(1, 0).ch, cp437::kDblTopLeft);
    EXPECT_TRUE(ScreenHas(s, "Refresh request (12): screen drawn again (1 so far)."));
}

TEST(TargetInteractive, CommandsWorkOnTheServedFloppyThroughDiskRequests) {
    const TFatImage img = MakeFatImage();
    TConsoleRig console(img.bytes, true, 10);
    TLine line(console.TakeTargetFd());
    TEngineTimes times;
    times.answer_ms = 1000;
    TTargetEngine engine(line, times);
    TInteractiveSession session(engine, TInteractiveOptions{"rig"});
    ASSERT_EQ(engine.WaitForConsole(5000), TStatusAnswer::saImage);
    session.Start(TStatusAnswer::saImage);

    session.RunCommand("boot");
    session.RunCommand("dir");
    session.RunCommand("type hello.txt");
    const auto lines = session.OutputLines();
    auto has = [&](const std::string& text) {
        for (const auto& l : lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(has("Geometry: 80 cylinders, 2 heads, 18 sectors per track"));
    EXPECT_TRUE(has("HELLO    TXT        24"));
    EXPECT_TRUE(has("README   TXT"));
    EXPECT_TRUE(has("Hello from the floppy!"));

    session.RunCommand("type README.TXT"); // 40 lines: one page, then a prompt
    EXPECT_TRUE(session.OutputLines().back().find("more lines") != std::string::npos);
    session.OnByte(' ');
    EXPECT_TRUE(session.OutputLines().back().find("17 more lines") != std::string::npos);
    session.OnByte(0x1B);
    session.OnSilence(); // Esc stops the pager
    EXPECT_EQ(session.OutputLines().back(), "(stopped)");
    session.RunCommand("dump 0 0 1");
    session.OnByte(0x1B);
    session.OnSilence();
    session.RunCommand("frob");
    console.Stop();

    const TScreen& s = console.Screen();
    EXPECT_TRUE(ScreenHas(s, "010  02 E0 00 40 0B F0 09 00-12 00 02 00")) << Dump(s);
    EXPECT_TRUE(ScreenHas(s, "Unknown command 'FROB'. Type help."));
    EXPECT_EQ(console.Writes(), 0);
    EXPECT_EQ(console.Abandoned(), 0);
}

TEST(TargetInteractive, VerifyReportsTheChecksumOfEverySectorOfTheImage) {
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
    const TFatImage img = MakeFatImage();
    TConsoleRig console(img.bytes, true, 10);
    TLine line(console.TakeTargetFd());
    TTargetEngine engine(line);
    TInteractiveSession session(engine, TInteractiveOptions{"rig"});
    ASSERT_EQ(engine.WaitForConsole(5000), TStatusAnswer::saImage);
    session.Start(TStatusAnswer::saImage);
    session.RunCommand("verify");
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", Crc32(img.bytes.data(), img.bytes.size()));
    ASSERT_FALSE(session.OutputLines().empty());
    const std::string last = session.OutputLines().back();
    EXPECT_NE(last.find("verify: 2880 sectors read, CRC-32 " + std::string(crc)), std::string::npos)
        << last;
}

TEST(TargetInteractive, RebootCodeRestartsTheTargetVisibly) {
    const TFatImage img = MakeFatImage();
    TConsoleRig console(img.bytes, true, 10);
    TLine line(console.TakeTargetFd());
    TTargetEngine engine(line);
    TInteractiveSession session(engine, TInteractiveOptions{"rig"});
    ASSERT_EQ(engine.WaitForConsole(5000), TStatusAnswer::saImage);
    session.Start(TStatusAnswer::saImage);
    session.RunCommand("boot");
    for (uint8_t b : {0x1B, 0x7F})
        session.OnByte(b);
    EXPECT_EQ(session.Reboots(), 1);
    console.Stop();
    const TScreen& s = console.Screen();
    EXPECT_TRUE(ScreenHas(s, "Rebooted (reboot code 1B 7F, 1 so far).")) << Dump(s);
    EXPECT_TRUE(ScreenHas(s, "not read yet (boot)")) << "the geometry was forgotten";
    EXPECT_FALSE(ScreenHas(s, "Geometry: 80 cylinders")) << "the output was cleared";
}

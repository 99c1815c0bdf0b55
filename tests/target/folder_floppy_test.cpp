// A folder served as a floppy, end to end: the image built from the folder, the target's
// changes made with mtools on a copy of it, written through the line by quorvik-target
// --write-from over a pseudo-terminal into the console's real floppy service, and kept beside
// the folder at Disconnect, the folder itself untouched.
#include "child_process.h"
#include "console_rig.h"
#include "folder_changes.h"
#include "folder_image.h"
#include "test_dir.h"
#include "test_images.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

void WriteText(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string Text(const std::string& path) {
    const std::vector<uint8_t> b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

// Every file below `root`: relative path -> bytes and modification time.
std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>>
Snapshot(const std::string& root) {
    std::map<std::string, std::pair<std::vector<uint8_t>, fs::file_time_type>> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        files[fs::relative(e.path(), root).string()] = {
            e.is_regular_file() ? ReadFile(e.path().string()) : std::vector<uint8_t>{},
            e.last_write_time()};
    return files;
}

int Mtools(const std::string& command) {
    return std::system(("MTOOLS_SKIP_CHECK=1 " + command + " >/dev/null 2>&1").c_str());
}

int OpenRaw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

} // namespace

TEST(FolderFloppy, TheTargetsChangesGoBesideTheFolderWhichStaysAsItWas) {
    const std::string folder = TestPath("Shared disk");
    fs::create_directories(folder + "/docs");
    WriteText(folder + "/README.TXT", "the first read-me\r\n");
    WriteText(folder + "/Long name.txt", "kept as it is\r\n");
    WriteText(folder + "/docs/Guide.txt", "chapter one\r\n");
    WriteText(folder + "/old.txt", "to be deleted\r\n");
    WriteText(folder + "/move me.txt", std::string(3000, 'm'));
    const auto before = Snapshot(folder);

    const TFolderImage built = BuildFolderImage(folder, 7);
    ASSERT_TRUE(built.Built()) << ::testing::PrintToString(built.left_out);

    // What the target is to make of the floppy, made with mtools on a copy.
    const std::string after = TestPath("after.img");
    WriteFile(after, built.bytes);
    WriteText(TestPath("notes"), "written by the target\r\n");
    WriteText(TestPath("readme"), "the second read-me, longer than the first\r\n");
    WriteText(TestPath("guide"), "chapter one\r\nchapter two\r\n");
    WriteFile(TestPath("inner"), std::vector<uint8_t>(5000, 0xA5));
    const std::string img = "-i '" + after + "' ";
    ASSERT_EQ(Mtools("mcopy " + img + "'" + TestPath("notes") + "' '::New notes.txt'"), 0);
    ASSERT_EQ(Mtools("mcopy -o " + img + "'" + TestPath("readme") + "' ::README.TXT"), 0);
    ASSERT_EQ(Mtools("mcopy -o " + img + "'" + TestPath("guide") + "' ::docs/Guide.txt"), 0);
    ASSERT_EQ(Mtools("mdel " + img + "::old.txt"), 0);
    ASSERT_EQ(Mtools("mren " + img + "'::move me.txt' ::moved.txt"), 0);
    ASSERT_EQ(Mtools("mmd " + img + "::newdir"), 0);
    ASSERT_EQ(Mtools("mcopy " + img + "'" + TestPath("inner") + "' ::newdir/inner.bin"), 0);
    const std::vector<uint8_t> target_state = ReadFile(after);
    ASSERT_EQ(target_state.size(), built.bytes.size());
    int differing = 0;
    for (size_t at = 0; at < target_state.size(); at += 512)
        differing +=
            !std::equal(target_state.begin() + long(at), target_state.begin() + long(at) + 512,
                        built.bytes.begin() + long(at));

    auto memory = std::make_shared<TMemoryImage>(built.bytes);
    TChildProcess target({QUORVIK_TARGET_BIN, "--write-from", after, "--wait-connect",
                          "--time-limit", "60", "--quiet-ms", "50"});
    const std::string first = target.FirstLine();
    ASSERT_EQ(first.rfind("QUORVIK_COM1=/dev/pts/", 0), 0u) << first;
    TConsoleRig console(memory, 100, OpenRaw(first.substr(13)));
    ASSERT_TRUE(target.WaitForOutput(
        [](const std::string& out) { return out.find("summary ") != std::string::npos; },
        std::chrono::seconds(60)))
        << target.Output();
    auto summary = SummaryFields(target.Output());
    EXPECT_EQ(summary["result"], "ok") << target.Output();
    EXPECT_EQ(summary["mismatches"], "0");
    EXPECT_EQ(summary["sectors"], std::to_string(differing));
    console.Stop();
    ASSERT_TRUE(memory->Bytes() == target_state) << "the served image is the target's";

    const TChangesReport report = WriteChangesBeside(folder, built.bytes, memory->Bytes(),
                                                     TLocalTime{2026, 12, 10, 14, 3, 22});
    EXPECT_TRUE(report.ok) << report.summary;
    EXPECT_EQ(report.folder, TestPath("Shared disk-from-target-20261210-140322"));
    EXPECT_EQ(report.summary, "The target's changes (2 new, 2 changed, 1 renamed, 1 deleted, "
                              "1 new folder) went to " +
                                  report.folder);
    const std::map<std::string, std::string> expected = {
        {"MOVED.TXT", std::string(3000, 'm')}, // mren names it in upper case
        {"New notes.txt", "written by the target\r\n"},
        {"README.TXT", "the second read-me, longer than the first\r\n"},
        {"docs/Guide.txt", "chapter one\r\nchapter two\r\n"},
        {"newdir/inner.bin", std::string(5000, '\xA5')}};
    std::vector<std::string> kept;
    for (const auto& [path, file] : Snapshot(report.folder)) {
        if (fs::is_directory(report.folder + "/" + path)) continue;
        kept.push_back(path);
        const auto it = expected.find(path);
        if (it != expected.end()) {
            EXPECT_TRUE(std::string(file.first.begin(), file.first.end()) == it->second) << path;
        }
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"CHANGES.TXT", "MOVED.TXT", "New notes.txt",
                                              "README.TXT", "docs/Guide.txt", "newdir/inner.bin"}));
    const std::string list = Text(report.folder + "/CHANGES.TXT");
    EXPECT_THAT(list, HasSubstr("deleted         old.txt\n"));
    EXPECT_THAT(list, HasSubstr("renamed         MOVED.TXT  (was move me.txt)\n"));
    EXPECT_THAT(list, HasSubstr("new folder      newdir\n"));
    EXPECT_THAT(list, HasSubstr("changed         docs/Guide.txt\n"));

    EXPECT_TRUE(Snapshot(folder) == before) << "the chosen folder is byte for byte as it was";

    // Nothing changed: no folder.
    const TChangesReport none = WriteChangesBeside(folder, built.bytes, built.bytes, TLocalTime{});
    EXPECT_TRUE(none.folder.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(TestDir()), fs::directory_iterator()), 7);
}

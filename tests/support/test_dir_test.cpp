// Each test's own folder: the same for the whole test, fresh for the next one, and gone when the
// test ends, also when it failed.
#include "child_process.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(TestDir, OneFolderForTheWholeTestAndAnEmptyOneForTheNext) {
    const std::string mine = TestDir();
    EXPECT_EQ(TestDir(), mine);
    EXPECT_EQ(fs::path(TestPath("a.txt")).parent_path(), fs::path(mine));
    EXPECT_EQ(fs::path(mine).filename().string().rfind("quorvik-TestDir.OneFolderForTheWhole", 0), 0u)
        << mine;
    ASSERT_TRUE(std::ofstream(TestPath("a.txt")) << "written");
    EndTestDir(); // as the test main does when a test ends
    EXPECT_FALSE(fs::exists(mine));
    BeginTestDir("TestDir.Next");
    const std::string next = TestDir();
    EXPECT_NE(next, mine);
    EXPECT_TRUE(fs::is_directory(next) && fs::is_empty(next)) << next;
}

#ifndef _WIN32
// Planted for the case below, which runs it in a program of its own.
TEST(TestDir, DISABLED_WritesAFileAndFails) {
    std::printf("folder %s\n", TestDir().c_str());
    std::ofstream(TestPath("left.txt")) << "x";
    FAIL() << "planted failure";
}

TEST(TestDir, AFailedTestsFolderIsRemovedAsItEnds) {
    const std::string tmp = TestPath("tmp");
    ASSERT_TRUE(fs::create_directory(tmp));
    TChildProcess child({"/usr/bin/env", "TEST_TMPDIR=" + tmp, "TMPDIR=" + tmp,
                         fs::read_symlink("/proc/self/exe").string(),
                         "--gtest_also_run_disabled_tests",
                         "--gtest_filter=TestDir.DISABLED_WritesAFileAndFails"});
    child.WaitForOutput([](const std::string&) { return false; }, 30s);
    ASSERT_TRUE(child.Exited());
    EXPECT_EQ(child.ExitCode(), 1) << child.Output();
    const size_t at = child.Output().find("folder " + tmp + "/quorvik-TestDir.DISABLED_");
    EXPECT_NE(at, std::string::npos) << child.Output();
    EXPECT_NE(child.Output().find("planted failure"), std::string::npos) << child.Output();
    EXPECT_TRUE(fs::is_empty(tmp)) << fs::directory_iterator(tmp)->path();
}
#endif

} // namespace

// Test main for every test program: each test's files go to a folder of its own, removed when
// the test ends (test_dir.h). Test discovery runs the programs at build time without a display,
// so Qt tests default to the offscreen platform.
#include "test_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// Called after the test's fixture is destroyed, so that nothing of the test holds its files.
class TTestDirs : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override {
        BeginTestDir(std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestEnd(const testing::TestInfo&) override { EndTestDir(); }
};

} // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Without a login session (CI) Qt makes TMPDIR/runtime-USER and leaves it for every later
    // run: this program's own folder instead, private as Qt wants it.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const std::string runtime = TestDir();
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
#endif
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new TTestDirs);
    return RUN_ALL_TESTS();
}

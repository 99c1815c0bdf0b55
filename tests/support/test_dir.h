// A folder of its own for each test that writes files, so that no test can read what another
// test, another program or an earlier run left behind.
//
// The folder is made at the first TestDir() of a test, under GoogleTest's TEST_TMPDIR where it
// is set, else under the system's temporary folder (TMPDIR; under wine the host's folder, seen
// through drive Z:), named quorvik-<test>-<random>, and removed with everything in it when the
// test ends, passed or failed: the test main calls BeginTestDir and EndTestDir around each test. Outside a test (a suite's set-up, a fuzzer, a
// benchmark) TestDir() is one folder for the whole program, removed as the program exits.
// A test that needs no file makes no folder. Thread-safe. Throws std::runtime_error when no
// folder can be made.
#pragma once

#include <string>

// The running test's folder, spelled for this program's own file calls.
std::string TestDir();
// A path in it (a name, or a relative path); TestPath("") is the folder with a separator.
std::string TestPath(const std::string& name);

// For the test main's listener: a test starts (its folder takes its name), a test has ended
// (its folder, if one was made, is removed; a folder that cannot be removed is named on the
// error output).
void BeginTestDir(const std::string& test_name);
void EndTestDir();

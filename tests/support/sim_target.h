// quorvik-target, the simulated target, in a process of its own for the whole-program tests of
// both windows: on a pseudo-terminal it creates, which COM1 opens (QUORVIK_COM1 on Linux; under
// wine the prefix's COM1 is pointed at it), or with --listen on raw TCP, which the test hands
// to the window. The program is the host build's (QUORVIK_TARGET_PROGRAM, built in on Linux,
// from the environment under wine, where scripts/win-test names it). Files that it and the
// window share are named by their host (Unix) path.
#pragma once

#include "child_process.h"

#include <map>
#include <string>
#include <vector>

class TSimTarget {
  public:
    // Starts it and waits for its first line, which names its line. Throws std::runtime_error
    // when it cannot be started or names none.
    explicit TSimTarget(const std::vector<std::string>& args);

    // Whether the program has ended (reaps it); its exit code afterwards.
    bool Exited() { return process_.Exited(); }
    int ExitCode() { return process_.ExitCode(); }
    // Everything it printed so far (read without blocking).
    const std::string& Output() { return process_.Output(); }
    bool Printed(const std::string& line) {
        return Output().find(line + "\n") != std::string::npos;
    }
    // The key=value fields of its summary line (empty before it printed one).
    std::map<std::string, std::string> Summary() { return SummaryFields(Output()); }
    // What its first line named: the pseudo-terminal's path, or tcp://HOST:PORT.
    const std::string& Line() const { return line_; }

  private:
    TChildProcess process_;
    std::string line_;
};

// The host path of `name` in the running test's folder (test_dir.h).
std::string HostTestPath(const std::string& name);
// A FAT12 image of `kilobytes` with a file of random bytes, in the test's folder; its host path.
std::string MakeImage(const std::string& name, int kilobytes);
// A copy of an image beside it (IMAGE.model), as the simulator's model of it starts; its host
// path.
std::string CopyOf(const std::string& image);
// The bytes of a file named by its host path ("" if it cannot be read).
std::string FileBytes(const std::string& host_path);

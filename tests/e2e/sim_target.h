// quorvik-target in its own process, on a pseudo-terminal it creates or (--listen) on raw TCP;
// the console finds it through QUORVIK_COM1.
#pragma once

#include "child_process.h"
#include "test_dir.h"

#include <map>
#include <string>
#include <vector>

class TSimTarget {
  public:
    // Starts it and waits for its first line, which names its line; QUORVIK_COM1 is set to it.
    explicit TSimTarget(const std::vector<std::string>& args);

    // Whether the program has ended (reaps it); its exit code afterwards.
    bool Exited() { return process_.Exited(); }
    int ExitCode() { return process_.ExitCode(); }
    // Everything it printed so far (read without blocking).
    const std::string& Output() { return process_.Output(); }
    bool Printed(const std::string& line) { return Output().find(line + "\n") != std::string::npos; }
    // The key=value fields of its summary line (empty before it printed one).
    std::map<std::string, std::string> Summary() { return SummaryFields(Output()); }
    // What its first line named: the pseudo-terminal's path, or tcp://HOST:PORT.
    const std::string& Line() const { return line_; }

  private:
    TChildProcess process_;
    std::string line_;
};

// The bytes of a file ("" if it cannot be read).
std::string FileBytes(const std::string& path);
// A 1.44 MB (or other size) FAT12 image with a few files of random bytes, in the program's
// temporary folder.
std::string MakeImage(const std::string& name, int kilobytes);

// quorvik-target in its own process, on a pseudo-terminal it creates; the console finds it
// through QUORVIK_COM1.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

class TSimTarget {
  public:
    explicit TSimTarget(const std::vector<std::string>& args);
    ~TSimTarget();
    TSimTarget(const TSimTarget&) = delete;
    TSimTarget& operator=(const TSimTarget&) = delete;

    // Whether the program has ended (reaps it); its exit code afterwards.
    bool Exited();
    int ExitCode() const { return exit_code_; }
    // Everything it printed so far (read without blocking).
    const std::string& Output();
    bool Printed(const std::string& line) { return Output().find(line + "\n") != std::string::npos; }
    // The key=value fields of its summary line (empty before it printed one).
    std::map<std::string, std::string> Summary();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int exit_code_ = -1;
    std::string output_;
};

// The bytes of a file ("" if it cannot be read).
std::string FileBytes(const std::string& path);
// A 1.44 MB (or other size) FAT12 image with a few files of random bytes.
std::string MakeImage(const std::string& name, int kilobytes);

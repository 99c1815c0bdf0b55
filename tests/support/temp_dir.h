// Temporary folders for the test rigs: each rig works in a folder of its own, removed with
// everything in it when the rig (or the test program) ends, also after a failed test.
#pragma once

#include <string>

class TTempDir {
  public:
    TTempDir();  // under the system's temporary folder, named quorvik-<random>
    ~TTempDir(); // removes it and all it holds
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The test program's own folder, made at first use and removed as the program ends.
const TTempDir& ProgramTempDir();

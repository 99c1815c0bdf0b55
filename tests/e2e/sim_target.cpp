#include "sim_target.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

TSimTarget::TSimTarget(const std::vector<std::string>& args)
    : process_([&] {
          std::vector<std::string> argv = {QUORVIK_TARGET_PROGRAM};
          argv.insert(argv.end(), args.begin(), args.end());
          return argv;
      }()) {
    const std::string first = process_.FirstLine();
    const std::string key = "QUORVIK_COM1=";
    if (first.rfind(key, 0) != 0) throw std::runtime_error("unexpected first line: " + first);
    line_ = first.substr(key.size());
    setenv("QUORVIK_COM1", line_.c_str(), 1);
}

std::string FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string MakeImage(const std::string& name, int kilobytes) {
    const std::string path = TestPath(name);
    const std::string data = path + ".data";
    const std::string cmd = "rm -f " + path + " && mkfs.fat -C -F 12 -n E2E " + path + " " +
                            std::to_string(kilobytes) + " > /dev/null && head -c " +
                            std::to_string(kilobytes * 600) + " /dev/urandom > " + data +
                            " && mcopy -i " + path + " " + data + " ::DATA.BIN";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + path);
    return path;
}

#include "sim_target.h"

#include "test_dir.h"

#include <cstdlib>
#include <stdexcept>
#ifdef _WIN32
#include "host_win32.h"
#else
#include <fstream>
#include <sstream>
#endif

namespace {

std::vector<std::string> Command(const std::vector<std::string>& args) {
#ifdef _WIN32
    const std::string program = Env("QUORVIK_TARGET_PROGRAM");
    if (program.empty()) throw std::runtime_error("QUORVIK_TARGET_PROGRAM is not set");
#else
    const std::string program = QUORVIK_TARGET_PROGRAM;
#endif
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

} // namespace

TSimTarget::TSimTarget(const std::vector<std::string>& args) : process_(Command(args)) {
    const std::string first = process_.FirstLine();
    const std::string key = "QUORVIK_COM1=";
    if (first.rfind(key, 0) != 0) throw std::runtime_error("unexpected first line: " + first);
    line_ = first.substr(key.size());
#ifdef _WIN32
    if (line_.rfind("tcp://", 0) != 0) MapComPort(1, line_);
#else
    setenv("QUORVIK_COM1", line_.c_str(), 1);
#endif
}

namespace {

void RunShell(const std::string& command) {
#ifdef _WIN32
    if (!RunHost(command)) throw std::runtime_error("failed: " + command);
#else
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
#endif
}

} // namespace

std::string CopyOf(const std::string& image) {
    RunShell("cp " + image + " " + image + ".model");
    return image + ".model";
}

std::string MakeImage(const std::string& name, int kilobytes) {
    const std::string path = HostTestPath(name);
    const std::string k = std::to_string(kilobytes);
    const std::string command = "rm -f " + path + " && mkfs.fat -C -F 12 -n E2E " + path + " " + k +
                                " >/dev/null && head -c " + std::to_string(kilobytes * 600) +
                                " /dev/urandom > " + path + ".data && mcopy -i " + path + " " +
                                path + ".data ::DATA.BIN";
    RunShell(command);
    return path;
}

#ifdef _WIN32
std::string HostTestPath(const std::string& name) {
    return HostTestDir() + "/" + name;
}
#else
std::string HostTestPath(const std::string& name) {
    return TestPath(name);
}

std::string FileBytes(const std::string& host_path) {
    std::ifstream f(host_path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}
#endif

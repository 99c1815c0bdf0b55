#include "sim_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

TSimTarget::TSimTarget(const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipe_fds[1], 1);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        std::string program = QUORVIK_TARGET_PROGRAM;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    out_ = pipe_fds[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
    // The first line names the pseudo-terminal.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Output().find('\n') == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || Exited())
            throw std::runtime_error("quorvik-target printed no line: " + output_);
        pollfd p{out_, POLLIN, 0};
        poll(&p, 1, 100);
    }
    const std::string first = output_.substr(0, output_.find('\n'));
    const std::string key = "QUORVIK_COM1=";
    if (first.rfind(key, 0) != 0) throw std::runtime_error("unexpected first line: " + first);
    setenv("QUORVIK_COM1", first.substr(key.size()).c_str(), 1);
}

TSimTarget::~TSimTarget() {
    if (!Exited()) {
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
    }
    close(out_);
}

bool TSimTarget::Exited() {
    if (exit_code_ >= 0) return true;
    int status;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    Output();
    return true;
}

const std::string& TSimTarget::Output() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) break;
        output_.append(buf, static_cast<size_t>(n));
    }
    return output_;
}

std::map<std::string, std::string> TSimTarget::Summary() {
    std::map<std::string, std::string> fields;
    const std::string& out = Output();
    const size_t at = out.find("summary ");
    if (at == std::string::npos) return fields;
    std::istringstream line(out.substr(at, out.find('\n', at) - at));
    std::string kv;
    while (line >> kv) {
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) fields[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return fields;
}

std::string FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string MakeImage(const std::string& name, int kilobytes) {
    const std::string dir = testing::TempDir();
    // Test programs run side by side: each process makes its own files.
    const std::string path = dir + "/" + std::to_string(getpid()) + "-" + name;
    const std::string data = path + ".data";
    const std::string cmd = "rm -f " + path + " && mkfs.fat -C -F 12 -n E2E " + path + " " +
                            std::to_string(kilobytes) + " > /dev/null && head -c " +
                            std::to_string(kilobytes * 600) + " /dev/urandom > " + data +
                            " && mcopy -i " + path + " " + data + " ::DATA.BIN";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + path);
    return path;
}

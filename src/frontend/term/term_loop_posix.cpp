// The loop on POSIX: poll() on a wake pipe (posted calls), the signals' self-pipe and the
// terminal's input, with the next timer's deadline as its time-out. Signal handlers only write
// the signal's number into the self-pipe; everything else happens in the round.
#include "term_loop.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace {

int signal_pipe_write = -1;

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = write(signal_pipe_write, &number, 1);
    errno = saved;
}

void MakePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
}

void Drain(int fd) {
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

class TPosixLoop final : public TTermLoop {
  public:
    explicit TPosixLoop(int terminal_fd) : terminal_fd_(terminal_fd) {
        MakePipe(wake_);
        MakePipe(signals_);
        signal_pipe_write = signals_[1];
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &action, nullptr);
        // The first ending signal ends the run in order (Disconnect, the terminal given back);
        // a second one ends the program at once, for a program stuck in a write to a terminal
        // that nobody reads any more.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaction(s, &action, nullptr);
        // A console server that closes the connection must not end the program with SIGPIPE
        // (the serial component reports it as the port going away).
        std::signal(SIGPIPE, SIG_IGN);
    }

  protected:
    TWoken Wait(int timeout_ms, const std::function<bool()>& posted) override {
        TWoken woken;
        pollfd fds[3] = {
            {wake_[0], POLLIN, 0}, {signals_[0], POLLIN, 0}, {terminal_fd_, POLLIN, 0}};
        const nfds_t count = terminal_fd_ >= 0 ? 3 : 2;
        if (posted()) timeout_ms = 0;
        if (poll(fds, count, timeout_ms) <= 0) return woken; // time-out, or EINTR: a new round
        if (fds[0].revents) Drain(wake_[0]);
        if (fds[1].revents) {
            unsigned char numbers[64];
            ssize_t n;
            while ((n = read(signals_[0], numbers, sizeof numbers)) > 0) {
                for (ssize_t i = 0; i < n; ++i) {
                    if (numbers[i] == SIGWINCH) woken.resized = true;
                    else woken.end_status = 128 + numbers[i];
                }
            }
        }
        if (count == 3 && fds[2].revents) {
            if (fds[2].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                woken.end_status = 128 + SIGHUP; // the terminal is gone (an SSH link dropped)
                terminal_fd_ = -1;
            } else {
                woken.input = true;
            }
        }
        return woken;
    }

    void Wake() override {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(wake_[1], &byte, 1); // a full pipe wakes too
    }

  private:
    int terminal_fd_;
    int wake_[2] = {-1, -1};
    int signals_[2] = {-1, -1};
};

} // namespace

std::unique_ptr<TTermLoop> MakeTermLoop(int terminal_fd) {
    return std::make_unique<TPosixLoop>(terminal_fd);
}

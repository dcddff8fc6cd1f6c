#include "tests/support/posix_xvfb_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace qelt::test {
namespace {

constexpr int kDisplayFd = 3;  // where Xvfb finds the pipe it writes its display number to
constexpr auto kStartTimeout = std::chrono::seconds(15);

}  // namespace

XvfbDisplay::XvfbDisplay(int width, int height) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        failure_ = std::string("cannot make a pipe: ") + std::strerror(errno);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kDisplayFd);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string fd = std::to_string(kDisplayFd);
    std::vector<const char*> argv{"Xvfb",         "-displayfd", fd.c_str(), "-screen",  "0",
                                  screen.c_str(), "-nolisten",  "tcp",      "-noreset", nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        failure_ = std::string("cannot start Xvfb: ") + std::strerror(spawned);
        return;
    }
    pid_ = pid;

    // Xvfb writes the display number and a newline once it accepts connections.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (number.empty() || number.back() != '\n') {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            failure_ = "Xvfb did not report a display within 15 s";
            break;
        }
        char buffer[16];
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) {
            failure_ = "Xvfb ended before it reported a display (is it allowed to run here?)";
            break;
        }
        number.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeFds[0]);
    if (!failure_.empty()) {
        Stop();
        return;
    }
    number.pop_back();
    name_ = ":" + number;
}

XvfbDisplay::~XvfbDisplay() {
    Stop();
}

void XvfbDisplay::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

}  // namespace qelt::test

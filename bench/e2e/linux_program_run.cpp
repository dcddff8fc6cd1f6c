#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

#include "bench/e2e/program_run.h"

namespace qelt::bench {
namespace {

namespace fs = std::filesystem;

volatile sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
    gInterrupted = 1;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// A "Name:   123 kB" field of /proc/PID/status; 0 when absent (the process has let go of its memory).
long StatusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    }
    return 0;
}

std::vector<pid_t> Children(pid_t pid) {
    const std::string task = std::to_string(pid);
    std::ifstream list("/proc/" + task + "/task/" + task + "/children");
    std::vector<pid_t> children;
    for (pid_t child = 0; list >> child;)
        children.push_back(child);
    return children;
}

// The first child of `pid`, 0 while it has none.
pid_t FirstChild(pid_t pid) {
    const auto children = Children(pid);
    return children.empty() ? 0 : children.front();
}

std::string ReadTail(const fs::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    return all.size() > limit ? all.substr(all.size() - limit) : all;
}

}  // namespace

double ChildrenCpuSeconds(const fs::path& pidFile) {
    std::ifstream file(pidFile);
    pid_t parent = 0;
    if (!(file >> parent)) return 0;
    double seconds = 0;
    for (const pid_t child : Children(parent)) {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string line;
        std::getline(stat, line);
        // The name in parentheses may hold spaces; utime and stime are the 12th and 13th fields after it.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        for (int i = 0; i < 11; ++i)
            fields >> field;
        double user = 0, system = 0;
        fields >> user >> system;
        seconds += (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() {
    return gInterrupted != 0;
}

ProgramRun RunMeasured(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                       const fs::path& scratch) {
    ProgramRun run;
    if (Interrupted()) return run;
    // time(1) in between: a child's peak resident set (ru_maxrss) starts from its parent's at the exec, so the
    // program's own comes from a small parent. time's own CPU time, a millisecond, counts in.
    const fs::path peakFile = scratch / "peak-kib";
    std::vector<std::string> command = {"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (auto& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;

    pid_t program = 0;
    bool stopping = false;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t ended = wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid) break;
        if (ended < 0 && errno != EINTR) return run;
        if (program == 0) program = FirstChild(pid);
        if (program != 0) run.usage.peakAnonKiB = std::max(run.usage.peakAnonKiB, StatusKiB(program, "RssAnon:"));
        if (Interrupted() && !stopping) {
            stopping = true;
            if (program != 0) kill(program, SIGTERM);
            kill(pid, SIGTERM);
        }
        const timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    run.usage.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.usage.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    // time writes "Command exited with non-zero status N" first when it did; the figure is on the last line.
    std::ifstream peak(peakFile);
    for (std::string line; std::getline(peak, line);) {
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            run.usage.peakRssKiB = std::stol(line);
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.err = ReadTail(scratch / "err", 2000);
    return run;
}

}  // namespace qelt::bench

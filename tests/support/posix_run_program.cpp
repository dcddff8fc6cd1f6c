#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/run_program.h"

extern char** environ;

namespace qelt::test {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// The caller's environment with `overrides` put in place of the entries of the same names; of two overrides of
// one name the later wins.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry; ++entry)
        merged.push_back(*entry);
    for (const auto& override : overrides) {
        const std::string name = override.substr(0, override.find('=') + 1);
        std::erase_if(merged, [&](const std::string& entry) { return entry.starts_with(name); });
        merged.push_back(override);
    }
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& text : strings)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                           const std::filesystem::path& scratch, const std::vector<std::string>& environment)
    : out_(scratch / "program.out"), err_(scratch / "program.err") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variables = MergedEnvironment(environment);
    std::vector<char*> argv = Pointers(all);
    std::vector<char*> envp = Pointers(variables);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("ChildProgram: cannot start " + program + ": " + std::strerror(error));
    pid_ = pid;
}

ChildProgram::~ChildProgram() {
    if (reaped_) return;
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

void ChildProgram::Signal(int number) {
    if (!reaped_) kill(pid_, number);
}

ProgramResult ChildProgram::Wait(std::chrono::milliseconds limit) {
    ProgramResult result;
    if (!reaped_) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        for (;;) {
            const pid_t ended = waitpid(pid_, &status, WNOHANG);
            if (ended == pid_ || (ended < 0 && errno != EINTR)) break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        reaped_ = true;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    result.out = ReadAll(out_);
    result.err = ReadAll(err_);
    return result;
}

std::string ChildProgram::Err() const {
    return ReadAll(err_);
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& scratch, const std::vector<std::string>& environment) {
    ChildProgram child(program, arguments, scratch, environment);
    return child.Wait();
}

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const auto candidate = std::filesystem::path(folder) / name;
        if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

TestMount::TestMount(const std::filesystem::path& at, std::uint64_t bytes, bool readOnly) : at_(at) {
    const std::string options = "size=" + std::to_string(bytes);
    const unsigned long flags = MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    mounted_ = mount("qelt-test", at.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

TestMount::~TestMount() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace qelt::test

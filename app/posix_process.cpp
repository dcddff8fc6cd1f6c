#include "app/posix_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "app/command_line.h"

extern char** environ;

namespace qelt {
namespace {

namespace fs = std::filesystem;

// Waits for `child` to end and stores its wait status; false when waitpid itself fails.
bool WaitFor(pid_t child, int& status) {
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// A launcher may have started this process with SIGCHLD ignored (an ignored signal survives exec). The kernel
// then reaps every child at once and waitpid, after blocking until the program ends, fails with ECHILD: a program
// that ran to its end would count as one that could not be waited for. Restored to the default (which ignores the
// signal too, but keeps the child for waitpid) before anything is started; a handler of our own is left alone.
void KeepChildrenForWaiting() {
    struct sigaction current {};
    if (sigaction(SIGCHLD, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0) return;
    if (current.sa_handler != SIG_IGN &&
        !(current.sa_handler == SIG_DFL && (current.sa_flags & SA_NOCLDWAIT) != 0))
        return;
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(SIGCHLD, &standard, nullptr);
}

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Prepare(const std::string& workingFolder) {
        // The engine's threads may block signals or ignore SIGPIPE; the started program must not inherit that.
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        return posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
               posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
               posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawn_file_actions_addchdir_np(&actions_, workingFolder.c_str()) == 0 &&
               // Only the standard streams pass on: a socket, pipe or file that some library of this process
               // opened without close-on-exec would otherwise stay open in the program, for as long as it runs.
               posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1) == 0;
    }

    const posix_spawn_file_actions_t* Actions() const { return &actions_; }
    const posix_spawnattr_t* Attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

PosixProcess::PosixProcess(std::string path) : SimpleProcess(std::move(path)) {}

bool PosixProcess::Launch(bool wait, const std::string& arguments, const std::string& workingFolder) {
    try {
        exitCode_ = -1;
        // A NUL would cut the name at the system call and start another program.
        if (GetPath().empty() || GetPath().find('\0') != std::string::npos ||
            workingFolder.find('\0') != std::string::npos) {
            return false;
        }
        // Absolute, because the program is started after the change to its working folder.
        const std::string program = fs::absolute(GetPath()).string();
        const std::string folder =
            workingFolder.empty() ? fs::path(program).parent_path().string() : workingFolder;

        std::vector<std::string> argv = SplitArgumentString(arguments);
        argv.insert(argv.begin(), program);
        std::vector<char*> pointers;
        pointers.reserve(argv.size() + 1);
        for (auto& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);

        KeepChildrenForWaiting();
        SpawnSetup setup;
        if (!setup.Prepare(folder)) return false;
        pid_t child = -1;
        // A missing or unrunnable program, or a working folder that cannot be entered, is reported here.
        if (posix_spawn(&child, program.c_str(), setup.Actions(), setup.Attributes(), pointers.data(), environ) !=
            0) {
            return false;
        }
        if (!wait) {
            try {
                std::thread([child] {
                    int status = 0;
                    WaitFor(child, status);
                }).detach();
            } catch (const std::system_error&) {
                // Started all the same; without a reaper it stays a zombie until this process ends.
            }
            return true;
        }
        int status = 0;
        if (!WaitFor(child, status)) return false;
        if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace qelt

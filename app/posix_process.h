#pragma once

#include <string>

#include "app/simple_process.h"

namespace qelt {

// Starts a program with posix_spawn. The argument string is split with the Windows rules (SplitArgumentString),
// so the program gets the same arguments as on Windows, argument 0 being the program's path. There is no
// elevation on this platform. The program inherits the environment and the standard streams (and no other
// descriptor), with an empty signal mask and SIGPIPE at its default. An ignored SIGCHLD inherited from whoever
// started this process is set back to its default first, so the program can be waited for and, inheriting the
// default, can wait for its own children.
class PosixProcess : public SimpleProcess {
public:
    explicit PosixProcess(std::string path);

    // Waits with waitpid (no time limit, no polling). Without `wait`, a detached thread reaps the program when
    // it ends, so it never stays a zombie.
    bool Launch(bool wait, const std::string& arguments, const std::string& workingFolder) override;

    // The exit code of the program last waited for; -1 when none was waited for or it ended by a signal.
    int GetExitCode() const { return exitCode_; }

private:
    int exitCode_ = -1;
};

}  // namespace qelt

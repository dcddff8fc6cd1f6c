#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qelt::test {

struct ProgramResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    int signal = 0;     // the signal that ended it, if one did
    std::string out;
    std::string err;
};

// A program running in the background: standard input empty, its output collected through files in `scratch`
// (which must exist). `environment` holds "NAME=VALUE" entries that replace or add to the caller's environment.
// The destructor kills and reaps a program still running.
class ChildProgram {
public:
    ChildProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& scratch, const std::vector<std::string>& environment = {});
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    void Signal(int number);
    // Waits for the end (killing the program after `limit`) and reads its output.
    ProgramResult Wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Its standard error so far.
    std::string Err() const;

private:
    int pid_ = -1;
    bool reaped_ = false;
    std::filesystem::path out_;
    std::filesystem::path err_;
};

// Runs `program` with `arguments` (argument 0 is added) as ChildProgram does and waits for it.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& scratch, const std::vector<std::string>& environment = {});

// The path of the program `name` found on PATH, or "" when there is none.
std::string FindOnPath(const std::string& name);

// A tmpfs of `bytes` mounted over the existing folder `at` (read-only if asked) for one test, unmounted by the
// destructor. Mounted() is false where the system refuses (not root).
class TestMount {
public:
    TestMount(const std::filesystem::path& at, std::uint64_t bytes, bool readOnly);
    ~TestMount();
    TestMount(const TestMount&) = delete;
    TestMount& operator=(const TestMount&) = delete;

    bool Mounted() const { return mounted_; }

private:
    std::filesystem::path at_;
    bool mounted_ = false;
};

}  // namespace qelt::test

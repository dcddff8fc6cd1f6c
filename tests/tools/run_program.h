#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qelt::test {

struct ProgramResult {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `arguments` (argument 0 is added), standard input empty, and waits for it. Its output is
// collected through files in `scratch`, which must exist.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& scratch);

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

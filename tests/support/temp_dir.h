#pragma once

#include <filesystem>

namespace qelt::test {

// A fresh folder for one test, removed when the object dies unless QELT_KEEP_TEST_DIRS is set in the environment
// (then its path is printed, to look at what a failing test left behind).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

}  // namespace qelt::test

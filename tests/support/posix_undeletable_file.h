#pragma once

#include <filesystem>
#include <string>

namespace qelt::test {

// Makes an existing file impossible to delete while the object lives, though it can still be opened, read and
// written: for a normal user by taking the write permission of its folder, for root (whom permissions do not stop)
// by bind-mounting the file onto itself. Usable() is false when neither works here; the test should then skip.
class UndeletableFile {
public:
    explicit UndeletableFile(std::filesystem::path path);
    ~UndeletableFile();
    UndeletableFile(const UndeletableFile&) = delete;
    UndeletableFile& operator=(const UndeletableFile&) = delete;

    bool Usable() const { return usable_; }

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    bool usable_ = false;
};

}  // namespace qelt::test

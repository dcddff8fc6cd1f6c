#include "tests/support/posix_undeletable_file.h"

#include <sys/mount.h>
#include <unistd.h>

namespace qelt::test {

UndeletableFile::UndeletableFile(std::filesystem::path path) : path_(std::move(path)) {
    if (::geteuid() == 0) {
        mounted_ = ::mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) == 0;
        usable_ = mounted_;
        return;
    }
    std::error_code error;
    std::filesystem::permissions(path_.parent_path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove, error);
    usable_ = !error;
}

UndeletableFile::~UndeletableFile() {
    if (mounted_) {
        ::umount2(path_.c_str(), MNT_DETACH);
    } else if (usable_) {
        std::error_code ignored;
        std::filesystem::permissions(path_.parent_path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
    }
}

}  // namespace qelt::test

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "storage/file_exception.h"
#include "storage/posix_shared_file.h"
#include "tests/storage/file_test_util.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kDiskSize = 4 * kMiB;

// A folder with only kDiskSize bytes of room: a tmpfs of that size where mounting is allowed (root, as in CI),
// else a file-size limit of that size for this process (which can only stand in for a full disk per file).
class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = dir_ / "disk";
        fs::create_directory(folder_);
        const std::string options = "size=" + std::to_string(kDiskSize);
        if (mount("qelt-test", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
            mounted_ = true;
            return;
        }
        const int mountError = errno;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &savedLimit_), 0);
        rlimit limit = savedLimit_;
        limit.rlim_cur = kDiskSize;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            GTEST_SKIP() << "cannot make a small disk: mount of a tmpfs failed (" << std::strerror(mountError)
                         << ") and so did setrlimit(RLIMIT_FSIZE) (" << std::strerror(errno) << ")";
        }
        limited_ = true;
        // Past the limit the kernel also raises SIGXFSZ, which would end the process.
        savedXfsz_ = signal(SIGXFSZ, SIG_IGN);
    }

    void TearDown() override {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
        if (limited_) {
            setrlimit(RLIMIT_FSIZE, &savedLimit_);
            signal(SIGXFSZ, savedXfsz_);
        }
    }

    std::shared_ptr<SharedFile> Open(const std::string& name) {
        return factory_.Open(folder_.string(), name, SharedFileMode::OpenOrCreate, 0, kUnboundedUpperBound);
    }

    test::TempDir dir_;
    fs::path folder_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit savedLimit_{};
    sighandler_t savedXfsz_ = SIG_DFL;
    PosixSharedFileFactory factory_;
};

TEST_F(FullDiskTest, AllocationBeyondTheFreeSpaceFailsAtOnceAndLeavesTheFileEmpty) {
    auto file = Open("package.bin");
    EXPECT_THROW(file->Allocate(2 * kDiskSize), FileInsufficientSpaceException);
    EXPECT_EQ(file->GetSize(), 0u);
    // The failure is retryable: once the request fits, the same file allocates.
    EXPECT_TRUE(file->Allocate(kMiB));
    EXPECT_EQ(file->GetSize(), kMiB);
}

TEST_F(FullDiskTest, AllocatedBytesAreWrittenThroughViewsWhenTheDiskIsFull) {
    if (!mounted_) GTEST_SKIP() << "needs a real small filesystem (mounting a tmpfs was refused)";
    auto file = Open("first.bin");
    ASSERT_TRUE(file->Allocate(3 * kMiB));
    auto other = Open("second.bin");
    EXPECT_THROW(other->Allocate(2 * kMiB), FileInsufficientSpaceException);

    // Every reserved page must be writable although nothing is free any more: no SIGBUS, no exception.
    const auto bytes = test::Pattern(3 * kMiB);
    for (std::uint64_t first = 0; first < 3 * kMiB; first += kMiB) {
        auto view = file->Map(first, first + kMiB - 1);
        for (std::uint32_t offset = 0; offset < kMiB; offset += 64 * 1024) {
            EXPECT_EQ(view->Write(bytes.data() + first + offset, 64 * 1024), 64u * 1024);
        }
    }
    file.reset();
    EXPECT_EQ(test::ReadFileBytes(folder_ / "first.bin"), bytes);
}

TEST_F(FullDiskTest, WritingPastTheFreeSpaceIsInsufficientSpace) {
    auto file = Open("log.txt");
    const auto bytes = test::Pattern(kMiB);
    EXPECT_THROW(
        {
            for (int i = 0; i < 8; ++i)
                file->Write(bytes.data(), kMiB);
        },
        FileInsufficientSpaceException);
}

}  // namespace
}  // namespace qelt

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "storage/posix_shared_file.h"
#include "tests/support/environment_guard.h"
#include "tests/support/temp_dir.h"
#include "transfer/manifest_store.h"
#include "transfer/transfer_manifest.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kId = "0123456789abcdef0123456789abcdef";

TransferManifest Record(const std::string& destPath) {
    TransferManifest manifest;
    manifest.params.transferId = kId;
    manifest.params.destPath = destPath;
    return manifest;
}

class PosixTransferStoreTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    PosixSharedFileFactory files_;
    fs::path folder_ = dir_ / "transfers";
    JsonTempFileManifestStore<TransferManifest> store_{folder_.string(), &files_};
};

TEST_F(PosixTransferStoreTest, AFifoInPlaceOfARecordIsNoRecordAndDoesNotBlock) {
    fs::create_directories(folder_);
    ASSERT_EQ(mkfifo((folder_ / (std::string(kId) + ".json")).c_str(), 0600), 0);
    TransferManifest read;
    EXPECT_FALSE(store_.Load(kId, read));
}

TEST_F(PosixTransferStoreTest, AFullDiskLeavesTheOldRecordAndNoTemporaryFile) {
    fs::create_directories(folder_);
    if (mount("qelt-test", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here";
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{folder_};
    ASSERT_TRUE(store_.Save(kId, Record("/old")));
    {
        std::ofstream filler(folder_ / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size())) {
        }
    }
    EXPECT_FALSE(store_.Save(kId, Record(std::string(8192, 'n'))));
    TransferManifest read;
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/old");
    EXPECT_FALSE(fs::exists(folder_ / (std::string(kId) + ".json.tmp")));
}

}  // namespace
}  // namespace qelt

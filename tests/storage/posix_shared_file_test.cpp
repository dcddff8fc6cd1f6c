#include "storage/posix_shared_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <limits>
#include <new>

#include "storage/file_exception.h"
#include "tests/storage/file_test_util.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;
using test::Pattern;
using test::ReadFileBytes;
using test::WriteFileBytes;

class SharedFileTest : public ::testing::Test {
protected:
    std::shared_ptr<SharedFile> Open(const std::string& path, SharedFileMode mode = SharedFileMode::OpenOrCreate,
                                     std::uint64_t lower = 0, std::uint64_t upper = kUnboundedUpperBound) {
        return factory_.Open(dir_.path().string(), path, mode, lower, upper);
    }
    mode_t Permissions(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(stat((dir_ / path).c_str(), &info), 0);
        return info.st_mode & 0777;
    }

    test::TempDir dir_;
    PosixSharedFileFactory factory_;
};

TEST_F(SharedFileTest, InvertedBoundsFailBeforeTheDiskIsTouched) {
    EXPECT_THROW(Open("sub/file", SharedFileMode::OpenOrCreate, 5, 4), FileOutOfBoundsException);
    EXPECT_THROW(Open("sub/file", SharedFileMode::CreateNew, 1, 0), FileOutOfBoundsException);
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
}

TEST_F(SharedFileTest, CreatingModesMakeMissingParentFolders) {
    Open("a/b/c.bin", SharedFileMode::OpenOrCreate);
    Open("x/y/z.bin", SharedFileMode::CreateNew);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "a/b/c.bin"));
    EXPECT_TRUE(fs::is_regular_file(dir_ / "x/y/z.bin"));
}

TEST_F(SharedFileTest, CreateNewOnAnExistingFileIsInUse) {
    WriteFileBytes(dir_ / "record.json", Pattern(10));
    EXPECT_THROW(Open("record.json", SharedFileMode::CreateNew), FileInUseException);
    EXPECT_EQ(ReadFileBytes(dir_ / "record.json"), Pattern(10));
}

TEST_F(SharedFileTest, OpenExistingOnAMissingFileIsABadPathAndCreatesNothing) {
    EXPECT_THROW(Open("missing.json", SharedFileMode::OpenExisting), FileBadPathException);
    EXPECT_THROW(Open("no/such/folder.json", SharedFileMode::OpenExisting), FileBadPathException);
    EXPECT_FALSE(fs::exists(dir_ / "missing.json"));
    EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(SharedFileTest, AFolderWhereTheFileShouldBeIsInaccessible) {
    fs::create_directories(dir_ / "data.bin");
    EXPECT_THROW(Open("data.bin", SharedFileMode::OpenOrCreate), FileInaccessibleException);
    EXPECT_THROW(Open("data.bin", SharedFileMode::OpenExisting), FileInaccessibleException);
    EXPECT_TRUE(fs::is_directory(dir_ / "data.bin"));
}

TEST_F(SharedFileTest, OtherModesCreateTheFileButNoFolders) {
    const auto other = static_cast<SharedFileMode>(7);
    EXPECT_THROW(Open("sub/file", other), FileBadPathException);
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
    Open("file", other);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "file"));
}

TEST_F(SharedFileTest, OpenExistingKeepsTheContent) {
    WriteFileBytes(dir_ / "data", Pattern(300));
    auto file = Open("data", SharedFileMode::OpenExisting);
    EXPECT_EQ(file->GetSize(), 300u);
    std::vector<std::uint8_t> back(300);
    EXPECT_EQ(file->Read(back.data(), 300), 300u);
    EXPECT_EQ(back, Pattern(300));
}

TEST_F(SharedFileTest, MalformedPathsAreBadPaths) {
    WriteFileBytes(dir_ / "plain", Pattern(1));
    EXPECT_THROW(Open("plain/child"), FileBadPathException);  // a file where a folder should be
    EXPECT_THROW(Open(""), FileBadPathException);
    EXPECT_THROW(Open(std::string("evil\0name", 9)), FileBadPathException);
    EXPECT_FALSE(fs::exists(dir_ / "evil"));
}

TEST_F(SharedFileTest, AbsolutePathIgnoresTheFolder) {
    auto file = factory_.Open("/nonexistent-folder-of-nobody", (dir_ / "abs.bin").string(),
                              SharedFileMode::OpenOrCreate, 0, kUnboundedUpperBound);
    EXPECT_TRUE(fs::is_regular_file(dir_ / "abs.bin"));
    EXPECT_EQ(FormSharedFilePath("/base", "rel/file"), "/base/rel/file");
    EXPECT_EQ(FormSharedFilePath("/base", "/abs/file"), "/abs/file");
}

TEST_F(SharedFileTest, PositionStartsAtTheLowerBoundAndSeekStaysInside) {
    auto file = Open("f", SharedFileMode::OpenOrCreate, 10, 99);
    EXPECT_EQ(file->Tell(), 10u);
    file->Seek(99);
    EXPECT_EQ(file->Tell(), 99u);
    EXPECT_THROW(file->Seek(100), FileOutOfBoundsException);
    EXPECT_THROW(file->Seek(9), FileOutOfBoundsException);
    EXPECT_EQ(file->Tell(), 99u);
}

TEST_F(SharedFileTest, ReadIsCutTo4096BytesButWriteIsNot) {
    auto file = Open("f");
    const auto bytes = Pattern(10000);
    EXPECT_EQ(file->Write(bytes.data(), 10000), 10000u);
    EXPECT_EQ(file->GetSize(), 10000u);
    file->Seek(0);
    std::vector<std::uint8_t> back(10000);
    EXPECT_EQ(file->Read(back.data(), 10000), 4096u);
    EXPECT_EQ(file->Tell(), 4096u);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4096, bytes.begin()));
    EXPECT_EQ(file->Read(back.data(), 0), 0u);
}

TEST_F(SharedFileTest, ReadAtTheEndOfTheFileReturnsWhatIsThere) {
    WriteFileBytes(dir_ / "short", Pattern(10));
    auto file = Open("short", SharedFileMode::OpenExisting);
    std::vector<std::uint8_t> back(100);
    EXPECT_EQ(file->Read(back.data(), 100), 10u);
    EXPECT_EQ(file->Read(back.data(), 100), 0u);
}

TEST_F(SharedFileTest, AccessPastTheBoundsFailsWithoutWriting) {
    auto file = Open("f", SharedFileMode::OpenOrCreate, 0, 99);
    const auto bytes = Pattern(20);
    file->Seek(90);
    EXPECT_THROW(file->Write(bytes.data(), 20), FileOutOfBoundsException);
    EXPECT_EQ(file->GetSize(), 0u);
    EXPECT_EQ(file->Write(bytes.data(), 10), 10u);
    file->Seek(90);
    std::vector<std::uint8_t> back(20);
    EXPECT_THROW(file->Read(back.data(), 20), FileOutOfBoundsException);
    EXPECT_EQ(file->Read(back.data(), 10), 10u);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 10, bytes.begin()));
}

TEST_F(SharedFileTest, AllocatePreSizesAnEmptyFileOnly) {
    auto file = Open("f", SharedFileMode::OpenOrCreate, 0, 99);
    EXPECT_TRUE(file->Allocate(0));
    EXPECT_EQ(file->GetSize(), 0u);
    EXPECT_TRUE(file->Allocate(100));
    EXPECT_EQ(file->GetSize(), 100u);
    EXPECT_EQ(file->Tell(), 0u);
    EXPECT_EQ(ReadFileBytes(dir_ / "f"), std::vector<std::uint8_t>(100, 0));
    EXPECT_FALSE(file->Allocate(50));
    EXPECT_EQ(file->GetSize(), 100u);
}

TEST_F(SharedFileTest, AllocateBeyondTheBoundsFails) {
    auto file = Open("f", SharedFileMode::OpenOrCreate, 0, 98);
    EXPECT_THROW(file->Allocate(100), FileOutOfBoundsException);
    EXPECT_EQ(file->GetSize(), 0u);
}

TEST_F(SharedFileTest, AllocateReservesTheBlocks) {
    auto file = Open("f");
    const std::uint64_t size = 8 << 20;
    ASSERT_TRUE(file->Allocate(size));
    struct stat info {};
    ASSERT_EQ(stat((dir_ / "f").c_str(), &info), 0);
    // A sparse file (a mere end-of-file move) would hold almost no blocks.
    EXPECT_GE(static_cast<std::uint64_t>(info.st_blocks) * 512, size);
}

TEST_F(SharedFileTest, DeleteAnswersWhetherAFileWasDeleted) {
    WriteFileBytes(dir_ / "gone", Pattern(5));
    EXPECT_TRUE(factory_.Delete(dir_.path().string(), "gone"));
    EXPECT_FALSE(fs::exists(dir_ / "gone"));
    EXPECT_FALSE(factory_.Delete(dir_.path().string(), "gone"));
    fs::create_directory(dir_ / "folder");
    EXPECT_FALSE(factory_.Delete(dir_.path().string(), "folder"));
    EXPECT_FALSE(factory_.Delete(dir_.path().string(), std::string("a\0b", 3)));
}

TEST_F(SharedFileTest, ReplacePutsAFileInThePlaceOfAnotherOrLeavesItAlone) {
    WriteFileBytes(dir_ / "old", Pattern(3000, 1));
    {
        auto file = Open("new", SharedFileMode::CreateNew);
        const auto bytes = Pattern(10, 2);
        file->Write(bytes.data(), 10);
        file->Flush();
    }
    factory_.Replace(dir_.path().string(), "new", "old");
    EXPECT_EQ(ReadFileBytes(dir_ / "old"), Pattern(10, 2));
    EXPECT_FALSE(fs::exists(dir_ / "new"));
    EXPECT_THROW(factory_.Replace(dir_.path().string(), "new", "old"), FileBadPathException);
    EXPECT_EQ(ReadFileBytes(dir_ / "old"), Pattern(10, 2));
}

TEST_F(SharedFileTest, NewFilesAreNotExecutableAndExecuteBitsFollowTheReadBits) {
    auto file = Open("setup.exe");
    EXPECT_EQ(Permissions("setup.exe") & 0111, 0u);
    ASSERT_EQ(chmod((dir_ / "setup.exe").c_str(), 0640), 0);
    EXPECT_TRUE(file->AllowExecute());
    EXPECT_EQ(Permissions("setup.exe"), 0750u);
    EXPECT_TRUE(file->DenyExecute());
    EXPECT_EQ(Permissions("setup.exe"), 0640u);
    EXPECT_TRUE(file->DenyExecute());
    EXPECT_EQ(Permissions("setup.exe"), 0640u);
    ASSERT_EQ(chmod((dir_ / "setup.exe").c_str(), 0755), 0);
    EXPECT_TRUE(file->DenyExecute());
    EXPECT_EQ(Permissions("setup.exe"), 0644u);
}

TEST_F(SharedFileTest, ExecutablesByExtension) {
    const auto folder = dir_.path().string();
    EXPECT_TRUE(factory_.IsExecutable(folder, "setup.exe"));
    EXPECT_TRUE(factory_.IsExecutable(folder, "bin/run.bat"));
    for (const char* name : {"a.com", "a.cmd", "a.msi", "a.vbs", ".exe"}) {
        EXPECT_TRUE(factory_.IsExecutable(folder, name)) << name;
    }
    for (const char* name : {"SETUP.EXE", "setup.exe.bak", "setup.Exe", "exe", "setup", "tools.exe/readme",
                             "tools.exe\\readme", "archive.exe."}) {
        EXPECT_FALSE(factory_.IsExecutable(folder, name)) << name;
    }
}

TEST_F(SharedFileTest, ExecutablesByContent) {
    const auto folder = dir_.path().string();
    WriteFileBytes(dir_ / "program", {0x7f, 'E', 'L', 'F', 2, 1, 1, 0});
    WriteFileBytes(dir_ / "script", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
    WriteFileBytes(dir_ / "zeros", std::vector<std::uint8_t>(4096, 0));
    WriteFileBytes(dir_ / "text", {'h', 'e', 'l', 'l', 'o'});
    WriteFileBytes(dir_ / "hash", {'#'});
    WriteFileBytes(dir_ / "empty", {});
    WriteFileBytes(dir_ / "elf-cut", {0x7f, 'E', 'L'});
    EXPECT_TRUE(factory_.IsExecutable(folder, "program"));
    EXPECT_TRUE(factory_.IsExecutable(folder, "script"));
    for (const char* name : {"zeros", "text", "hash", "empty", "elf-cut", "missing"}) {
        EXPECT_FALSE(factory_.IsExecutable(folder, name)) << name;
    }
    fs::create_directory(dir_ / "folder");
    EXPECT_FALSE(factory_.IsExecutable(folder, "folder"));
}

TEST_F(SharedFileTest, MapNeverReachesPastTheEndOfTheFile) {
    WriteFileBytes(dir_ / "f", Pattern(1000));
    auto file = Open("f", SharedFileMode::OpenExisting);
    EXPECT_THROW(file->Map(0, 1000), FileInvalidMapException);
    auto view = file->Map(0, 999);
    EXPECT_EQ(view->Data()[999], Pattern(1000)[999]);
    auto empty = Open("empty");
    EXPECT_THROW(empty->Map(0, 0), FileInvalidMapException);
}

TEST_F(SharedFileTest, MapChecksTheBoundsFirst) {
    WriteFileBytes(dir_ / "f", Pattern(1000));
    auto file = Open("f", SharedFileMode::OpenExisting, 100, 199);
    EXPECT_THROW(file->Map(99, 150), FileOutOfBoundsException);
    EXPECT_THROW(file->Map(150, 200), FileOutOfBoundsException);
    EXPECT_THROW(file->Map(160, 150), FileOutOfBoundsException);
    auto all = file->MapAll();
    EXPECT_EQ(all->Tell(), 100u);
    EXPECT_EQ(all->Data()[0], Pattern(1000)[100]);
}

TEST_F(SharedFileTest, ViewsLongerThan32BitsAreAnAllocationFailure) {
    auto file = Open("f");
    for (auto map :
         {+[](SharedFile& f) { f.Map(0, std::uint64_t{1} << 32); },
          +[](SharedFile& f) { f.Map(0, std::uint64_t{0xFFFFFFFF}); }, +[](SharedFile& f) { f.MapAll(); }}) {
        try {
            map(*file);
            ADD_FAILURE() << "no exception";
        } catch (const std::bad_alloc& e) {
            EXPECT_STREQ(e.what(), "bad allocation");
        }
    }
}

TEST_F(SharedFileTest, ViewsWriteThroughToTheFileAndOutliveIt) {
    std::shared_ptr<MemoryMappedFileData> view;
    {
        auto file = Open("f", SharedFileMode::OpenOrCreate, 0, 9999);
        ASSERT_TRUE(file->Allocate(10000));
        view = file->Map(5000, 5999);
    }
    const auto bytes = Pattern(1000);
    EXPECT_EQ(view->Write(bytes.data(), 1000), 1000u);
    view.reset();
    const auto content = ReadFileBytes(dir_ / "f");
    ASSERT_EQ(content.size(), 10000u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), content.begin() + 5000));
    EXPECT_EQ(content[4999], 0);
    EXPECT_EQ(content[6000], 0);
}

}  // namespace
}  // namespace qelt

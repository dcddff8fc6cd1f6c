#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/posix_shortcut.h"
#include "storage/posix_shared_file.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The expected file: byte-order mark, then each ASCII character as a little-endian UTF-16 unit.
std::vector<std::uint8_t> Utf16File(const std::string& text) {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    for (char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

class ShortcutTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    const fs::path folder_ = dir_ / "data/shortcuts";
    PosixSharedFileFactory files_;
    PosixShortcut shortcut_{"a1c7", folder_.string(), files_};
};

TEST_F(ShortcutTest, WritesTheFourLinesInUtf16WithAPercentEncodedUrl) {
    ASSERT_TRUE(shortcut_.Create("/opt/Orvane Games/v\xC3\xA9llamor#1/boot"));
    const std::string url = "file:///opt/Orvane%20Games/v%C3%A9llamor%231/boot";
    EXPECT_EQ(ReadBytes(folder_ / "a1c7.url"),
              Utf16File("[InternetShortcut]\r\nURL=" + url + "\r\nIconFile=" + url + "\r\nIconIndex=0\r\n"));
}

TEST_F(ShortcutTest, ReplacesAnExistingShortcut) {
    fs::create_directories(folder_);
    std::ofstream(folder_ / "a1c7.url") << std::string(4096, 'x');
    ASSERT_TRUE(shortcut_.Create("/opt/boot"));
    EXPECT_EQ(ReadBytes(folder_ / "a1c7.url"), InternetShortcutBytes("file:///opt/boot"));
}

TEST_F(ShortcutTest, AnUndeletableShortcutLeavesCreateFalse) {
    fs::create_directories(folder_ / "a1c7.url");
    std::ofstream(folder_ / "a1c7.url/keep") << "x";
    EXPECT_FALSE(shortcut_.Create("/opt/boot"));
    EXPECT_TRUE(fs::is_directory(folder_ / "a1c7.url"));
}

TEST_F(ShortcutTest, AFolderThatCannotBeMadeLeavesCreateFalse) {
    std::ofstream(dir_ / "data") << "a file where the folder should be";
    EXPECT_FALSE(shortcut_.Create("/opt/boot"));
    EXPECT_FALSE(PosixShortcut("a1c7", folder_.string(), files_).Create(""));
}

TEST_F(ShortcutTest, CopiesAndRemoves) {
    ASSERT_TRUE(shortcut_.Create("/opt/boot"));
    fs::create_directories(dir_ / "desktop");
    ASSERT_TRUE(shortcut_.CopyTo((dir_ / "desktop").string(), "Vellamor"));
    EXPECT_EQ(ReadBytes(dir_ / "desktop/Vellamor.url"), ReadBytes(folder_ / "a1c7.url"));
    EXPECT_FALSE(shortcut_.CopyTo((dir_ / "nowhere").string(), "Vellamor"));
    EXPECT_TRUE(shortcut_.Remove((dir_ / "desktop").string(), "Vellamor"));
    EXPECT_FALSE(fs::exists(dir_ / "desktop/Vellamor.url"));
    EXPECT_FALSE(shortcut_.Remove((dir_ / "desktop").string(), "Vellamor"));
}

}  // namespace
}  // namespace qelt

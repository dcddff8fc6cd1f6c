#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;
using test::ProgramResult;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Every entry under a folder, "" when it does not exist or is empty.
std::string Listing(const fs::path& folder) {
    std::string listing;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        listing += it->path().lexically_relative(folder).generic_string() + "\n";
    }
    return listing;
}

class PublishCommandTest : public ::testing::Test {
protected:
    PublishCommandTest() { WriteFile(source_ / "bin/game", test::MakeTestContent(10000, 5)); }

    ProgramResult Run(const std::vector<std::string>& arguments) {
        return test::RunProgram(QELT_PUBLISH_PROGRAM, arguments, dir_.path());
    }

    // A publish of source_ into `root` with these extra arguments.
    ProgramResult Publish(const fs::path& root, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {
            source_.string(), "--out", root.string(),  "--partner", "partner", "--package", "pkg",
            "--version",      "1",     "--chunk-size", "4K"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return Run(arguments);
    }

    test::TempDir dir_;
    fs::path source_ = dir_ / "source";
    fs::path root_ = dir_ / "root";
};

TEST_F(PublishCommandTest, HelpSucceedsAndUsageErrorsPointToIt) {
    const ProgramResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("qelt-publish --check ROOT"), std::string::npos);

    for (const auto& [arguments, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, "The source folder is missing."},
             {{"src", "--frobnicate"}, "Unknown option --frobnicate."},
             {{"src", "--out", "r", "--partner", "p", "--package", "k", "--version", "1", "--chunk-size", "0"},
              "out of range"},
         }) {
        const ProgramResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Try \"qelt-publish --help\"."), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
}

TEST_F(PublishCommandTest, BadInputIsOneClearMessageAndPublishesNothing) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> options;  // replace or add to the defaults
        const char* message;
        fs::path root;
    };
    const fs::path outside = dir_ / "outside.txt";
    WriteFile(outside, "secret");
    const std::vector<Case> cases = {
        {"link out of the folder",
         [&] { fs::create_symlink(outside, source_ / "bin/link"); },
         {},
         "points out of the source folder",
         root_},
        {"dangling link",
         [&] { fs::create_symlink(dir_ / "nothing", source_ / "bin/link"); },
         {},
         "points to nothing",
         root_},
        {"link loop",
         [&] { fs::create_directory_symlink(source_, source_ / "bin/loop"); },
         {},
         "leads back into a folder that holds it",
         root_},
        {"empty file",
         [&] { WriteFile(source_ / "bin/empty.dat", ""); },
         {},
         "cannot describe a file of zero bytes",
         root_},
        {"backslash", [&] { WriteFile(source_ / "bin/a\\b.txt", "x"); }, {}, "has a backslash", root_},
        {"control character", [&] { WriteFile(source_ / "bin/a\tb.txt", "x"); }, {}, "control character", root_},
        {"too many chunks",
         [&] { fs::resize_file(source_ / "bin/game", 5ull << 30); },
         {"--chunk-size", "1"},
         "would have more than 4294967295 chunks",
         root_},
        {"id not for a URL", [] {}, {"--package", "a b"}, "cannot stand in a URL path", root_},
        {"version named current", [] {}, {"--version", "current"}, "cannot be \"current\"", root_},
        {"run names no file", [] {}, {"--run", "bin/missing"}, "names no file in the source folder", root_},
        {"run with dot-dot", [] {}, {"--run", "../bin/game"}, "must be a relative path", root_},
        {"root inside the source", [] {}, {}, "lies inside the source folder", source_ / "mirror"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove_all(source_);
        WriteFile(source_ / "bin/game", "game");
        test.prepare();
        std::vector<std::string> arguments = {
            source_.string(), "--out", test.root.string(), "--partner", "partner",
            "--package",      "pkg",   "--version",        "1"};
        for (std::size_t i = 0; i + 1 < test.options.size(); i += 2) {
            auto slot = std::find(arguments.begin(), arguments.end(), test.options[i]);
            if (slot == arguments.end()) slot = arguments.insert(arguments.end(), {test.options[i], ""});
            *(slot + 1) = test.options[i + 1];
        }
        const ProgramResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(test.message), std::string::npos) << result.err;
        const bool usage = result.err.find("--help") != std::string::npos;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), usage ? 2 : 1) << result.err;
        EXPECT_EQ(Listing(test.root), "");
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}

TEST_F(PublishCommandTest, UnwritableRootPublishesNothing) {
    WriteFile(dir_ / "plain-file", "x");
    ProgramResult result = Publish(dir_ / "plain-file/root");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("plain-file\": a file of that name is in the way."), std::string::npos)
        << result.err;

    fs::create_directories(root_);
    const test::TestMount readOnly(root_, 1 << 20, true);
    if (!readOnly.Mounted()) GTEST_SKIP() << "mounting a read-only tmpfs needs root";
    result = Publish(root_);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Read-only file system"), std::string::npos) << result.err;
}

TEST_F(PublishCommandTest, FullDiskPublishesNothing) {
    fs::create_directories(root_);
    const test::TestMount small(root_, 1 << 20, false);
    if (!small.Mounted()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    WriteFile(source_ / "data/big.pak", test::MakeTestContent(3 << 20, 6));
    const ProgramResult result = Publish(root_, {"--link"});  // another file system: linking must fail cleanly
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("different file systems"), std::string::npos) << result.err;
    EXPECT_EQ(Listing(root_), "");

    const ProgramResult copy = Publish(root_);
    EXPECT_EQ(copy.exitCode, 1);
    EXPECT_NE(copy.err.find("No space left on device"), std::string::npos) << copy.err;
    EXPECT_EQ(Listing(root_), "");
}

TEST_F(PublishCommandTest, ManyMoreFilesThanOpenFilesAllowed) {
    for (int i = 0; i < 300; ++i)
        WriteFile(source_ / "many" / (std::to_string(i) + ".bin"), test::MakeTestContent(5000 + i, i));
    std::vector<std::string> arguments = {"-c",
                                          "ulimit -n 40 && exec \"$0\" \"$@\"",
                                          QELT_PUBLISH_PROGRAM,
                                          source_.string(),
                                          "--out",
                                          root_.string(),
                                          "--partner",
                                          "partner",
                                          "--package",
                                          "pkg",
                                          "--version",
                                          "1"};
    const ProgramResult result = test::RunProgram("/bin/sh", arguments, dir_.path());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("301 files"), std::string::npos) << result.out;
    EXPECT_EQ(Run({"--check", root_.string()}).exitCode, 0);
}

TEST_F(PublishCommandTest, CheckExitsOneAndNamesTheDamagedChunk) {
    const ProgramResult published = Publish(root_, {"--current", "--node", "127.0.0.1:8080"});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    EXPECT_NE(published.out.find("Published version 1 of package pkg: 1 file"), std::string::npos);
    EXPECT_TRUE(published.err.empty()) << published.err;

    ProgramResult check = Run({"--check", root_.string()});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("all good"), std::string::npos) << check.out;

    const fs::path game = root_ / "packages/partner/pkg/1/bin/game";
    std::fstream(game, std::ios::in | std::ios::out | std::ios::binary).seekp(5000).put('\0').put('\0');
    check = Run({"--check", root_.string()});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.out.find("packages/partner/pkg/1/bin/game: chunk 1 (bytes 4096-8191) is damaged."),
              std::string::npos)
        << check.out;

    check = Run({"--check", (dir_ / "nowhere").string()});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.err.find("is not a mirror root"), std::string::npos) << check.err;
}

}  // namespace
}  // namespace qelt

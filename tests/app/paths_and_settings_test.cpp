#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "app/launch_options.h"
#include "app/paths.h"
#include "app/transfer_settings.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

EnvironmentLookup Environment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) -> const char* {
        auto it = values.find(name);
        return it == values.end() ? nullptr : it->second.c_str();
    };
}

TEST(TemporaryDirectory, PrefersTmpdirThenCacheFolders) {
    EXPECT_EQ(UserTemporaryDirectory(Environment({{"TMPDIR", "/t"}, {"XDG_CACHE_HOME", "/x"}, {"HOME", "/h"}})),
              "/t");
    EXPECT_EQ(UserTemporaryDirectory(Environment({{"TMPDIR", ""}, {"XDG_CACHE_HOME", "/x"}, {"HOME", "/h"}})),
              "/x");
    EXPECT_EQ(UserTemporaryDirectory(Environment({{"HOME", "/h"}})), "/h/.cache");
    EXPECT_EQ(UserTemporaryDirectory(Environment({})), "/tmp");
}

TEST(DataFolderCheck, ExistingPlainFilePasses) {
    test::TempDir dir;
    std::ofstream(dir / "file") << "x";
    EXPECT_TRUE(CheckDataFolder((dir / "file").string()));
}

TEST(DataFolderCheck, CreatesEveryMissingParent) {
    test::TempDir dir;
    const auto target = dir / "a" / "b" / "c";
    EXPECT_TRUE(CheckDataFolder(target.string()));
    EXPECT_TRUE(std::filesystem::is_directory(target));
}

TEST(DataFolderCheck, ImpossiblePathFailsWithoutThrowing) {
    test::TempDir dir;
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(CheckDataFolder((dir / "file" / "below").string())) << "a parent is a plain file";
    EXPECT_FALSE(CheckDataFolder(std::string("/proc/qelt-no-such-folder/x")));
}

TEST(Settings, ThreadFieldsFromProcessorCount) {
    const TransferSettings eight(8);
    EXPECT_EQ(eight.workflowParallelism, 10u);
    EXPECT_EQ(eight.transferThreads, 10u);
    for (unsigned processors : {0u, 1u}) {
        TransferSettings settings(processors);
        ApplyLaunchOptions(settings, LaunchOptions{});
        EXPECT_EQ(settings.workflowParallelism, 3u);
        EXPECT_EQ(settings.transferThreads, 6u);
    }
}

TEST(Settings, LaunchOptionsReplaceHostOnlyWhenGiven) {
    TransferSettings settings(2);
    const std::string defaultHost = settings.manifestHost;
    EXPECT_FALSE(defaultHost.empty());
    LaunchOptions options;
    options.logLevel = 7;
    ApplyLaunchOptions(settings, options);
    EXPECT_EQ(settings.manifestHost, defaultHost);
    EXPECT_EQ(settings.logLevel, 7);

    TransferSettings configured(2);
    options.manifestHost = "manifests.test";
    ApplyLaunchOptions(configured, options);
    EXPECT_EQ(configured.manifestHost, "manifests.test");
}

}  // namespace
}  // namespace qelt

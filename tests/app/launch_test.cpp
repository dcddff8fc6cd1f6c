#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "app/command_line.h"
#include "app/launch_arguments.h"
#include "app/posix_process.h"
#include "tests/support/environment_guard.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

LaunchOptions Shipped() {
    LaunchOptions options;
    options.partnerId = "81f8";
    options.gamePackageId = "a1c7";
    options.skinPackageId = "e789";
    options.gameName = "Vellamor";
    options.installFolder = "Vellamor";
    return options;
}

TEST(LaunchArguments, ShippedConfigurationPassesOnlyTheIdentifiers) {
    EXPECT_EQ(BuildLaunchArguments(Shipped(), "", ""),
              R"( /id "81f8" /package "a1c7" /name "Vellamor" /folder "Vellamor")");
}

TEST(LaunchArguments, EveryOptionInItsOrder) {
    LaunchOptions options = Shipped();
    options.manifestHost = "mirror.test";
    options.gameName = "de=Spiel;fr=Jeu";
    options.skinPackageId = "de=haut;fr=peau";
    options.packageVersion = "12";
    options.logLevel = -1;
    EXPECT_EQ(BuildLaunchArguments(options, "de", "run/skin.exe"),
              R"( /host "mirror.test" /id "81f8" /package "" /name "Spiel" /folder "" /locale "de")"
              R"( /version "12" /skin "haut/run/skin.exe" /log "-1")");
}

TEST(LaunchArguments, ValuesAreWrittenUnescaped) {
    LaunchOptions options = Shipped();
    options.partnerId = "";
    options.gameName = R"(Vel"la\mor)";
    options.packageVersion = "";
    options.logLevel = 0;
    EXPECT_EQ(BuildLaunchArguments(options, "", ""),
              R"( /package "a1c7" /name "Vel"la\mor" /folder "Vellamor" /version "" /log "0")");
}

TEST(ArgumentString, SplitsWithTheWindowsRules) {
    using Args = std::vector<std::string>;
    EXPECT_EQ(SplitArgumentString(""), Args{});
    EXPECT_EQ(SplitArgumentString(" \t "), Args{});
    EXPECT_EQ(SplitArgumentString(R"( /name "Vel lamor"	/version "")"),
              (Args{"/name", "Vel lamor", "/version", ""}));
    EXPECT_EQ(SplitArgumentString(R"(a\b c\\d)"), (Args{R"(a\b)", R"(c\\d)"}));
    EXPECT_EQ(SplitArgumentString(R"(a\"b "c\\" d)"), (Args{R"(a"b)", R"(c\)", "d"}));
    EXPECT_EQ(SplitArgumentString(R"(\\\"x)"), (Args{R"(\"x)"}));
    EXPECT_EQ(SplitArgumentString(R"("a""b c")"), (Args{R"(a"b)", "c"})) << "a doubled quote ends the quoting";
    EXPECT_EQ(SplitArgumentString(R"(""" x)"), (Args{R"(")", "x"}));
    EXPECT_EQ(SplitArgumentString(R"( /name "Vel"la" /folder "x")"), (Args{"/name", "Vella /folder x"}));
    EXPECT_EQ(SplitArgumentString(R"("open)"), (Args{"open"}));
}

// A started probe's record: its working folder, then its arguments.
std::vector<std::string> ReadRecord(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> fields;
    for (std::string field; std::getline(in, field, '\0');)
        fields.push_back(field);
    return fields;
}

class ProcessTest : public ::testing::Test {
protected:
    test::TempDir dir_;
    const fs::path record_ = dir_ / "record";
    test::EnvironmentGuard recordGuard_{"QELT_PROBE_RECORD", record_.string()};
    test::EnvironmentGuard exitGuard_{"QELT_PROBE_EXIT", "3"};
};

TEST_F(ProcessTest, WaitsForTheProgramWhichGetsTheSplitArguments) {
    fs::create_directory(dir_ / "work");
    PosixProcess process(QELT_LAUNCH_PROBE);
    ASSERT_TRUE(process.Launch(true, R"( /name "Vel lamor" /version "" /skin "a\b")", (dir_ / "work").string()));
    EXPECT_EQ(process.GetExitCode(), 3) << "a non-zero exit still counts as launched";
    EXPECT_EQ(ReadRecord(record_),
              (std::vector<std::string>{fs::canonical(dir_ / "work").string(), QELT_LAUNCH_PROBE, "/name",
                                        "Vel lamor", "/version", "", "/skin", R"(a\b)"}));
}

TEST_F(ProcessTest, RunsInTheProgramsFolderWhenNoneIsGiven) {
    PosixProcess process(QELT_LAUNCH_PROBE);
    ASSERT_TRUE(process.Launch(true, "", ""));
    const auto fields = ReadRecord(record_);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0], fs::canonical(fs::path(QELT_LAUNCH_PROBE).parent_path()).string());
}

TEST_F(ProcessTest, WithoutWaitingTheProgramStillRuns) {
    PosixProcess process(QELT_LAUNCH_PROBE);
    ASSERT_TRUE(process.Launch(false, "x", ""));
    for (int i = 0; i < 500 && !fs::exists(record_); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(fs::exists(record_));
    EXPECT_EQ(ReadRecord(record_).back(), "x");
}

TEST_F(ProcessTest, TheProgramInheritsOnlyTheStandardStreams) {
    int leaky[2];
    ASSERT_EQ(pipe(leaky), 0) << "a pipe opened without close-on-exec, as a library might";
    const fs::path descriptors = dir_ / "descriptors";
    test::EnvironmentGuard guard("QELT_PROBE_DESCRIPTORS", descriptors.string());
    const bool launched = PosixProcess(QELT_LAUNCH_PROBE).Launch(true, "", "");
    close(leaky[0]);
    close(leaky[1]);
    ASSERT_TRUE(launched);
    std::ifstream in(descriptors);
    ASSERT_TRUE(in.is_open());
    const std::string inherited((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(inherited, "") << "descriptors open in the started program";
}

TEST_F(ProcessTest, AChildSignalIgnoredByWhoeverStartedUsStillLetsTheProgramBeWaitedFor) {
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(sigaction(SIGCHLD, &ignore, &saved), 0);
    PosixProcess probe(QELT_LAUNCH_PROBE);
    const bool waited = probe.Launch(true, "", "");
    // The shell reports the signals ignored in what it runs: the started program must be able to wait too.
    const fs::path status = dir_ / "status";
    const bool shellRan = PosixProcess("/bin/sh").Launch(
        true, R"(-c "grep SigIgn /proc/self/status > )" + status.string() + '"', "");
    sigaction(SIGCHLD, &saved, nullptr);
    EXPECT_TRUE(waited) << "the program ran to its end";
    EXPECT_EQ(probe.GetExitCode(), 3);
    ASSERT_TRUE(shellRan);
    std::ifstream in(status);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const unsigned long ignored = std::stoul(line.substr(line.find(':') + 1), nullptr, 16);
    EXPECT_EQ(ignored & (1ul << (SIGCHLD - 1)), 0ul) << line;
}

TEST_F(ProcessTest, AProgramThatCannotStartGivesFalse) {
    EXPECT_FALSE(PosixProcess((dir_ / "missing").string()).Launch(true, "", ""));
    std::ofstream(dir_ / "plain") << "#!/bin/sh\nexit 0\n";
    EXPECT_FALSE(PosixProcess((dir_ / "plain").string()).Launch(true, "", "")) << "no execute permission";
    EXPECT_FALSE(PosixProcess(QELT_LAUNCH_PROBE).Launch(true, "", (dir_ / "no such folder").string()));
    EXPECT_FALSE(PosixProcess("").Launch(true, "", ""));
    EXPECT_FALSE(fs::exists(record_));
}

}  // namespace
}  // namespace qelt

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "tests/support/nginx_server.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tools/qelt_publish/publisher.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The whole bootstrapper against a real nginx: port 0 is the manifest host (and the analytics host, whose POSTs
// nginx refuses at once), ports 1 and 2 are the download nodes. The string table names packages published here
// with the publisher; the data folder lies in a temporary directory of the test.
class BootstrapperProcessTest : public ::testing::Test {
protected:
    void StartMirror(std::vector<std::uint64_t> rateLimits = {}) {
        nginx.emplace(NginxOptions{.root = root.path(), .ports = 3, .rateLimits = std::move(rateLimits)});
    }

    std::string Node(std::size_t index) const { return "127.0.0.1:" + std::to_string(nginx->Ports().at(index)); }

    // The downloader: a script that writes the arguments it was started with, one a line, then after a moment
    // says it has finished, so the test sees whether the bootstrapper waited for it. Its data file gives the
    // download some length.
    void PublishPackages(const std::vector<std::string>& nodes, std::size_t dataBytes = 300000) {
        WriteText(source / "downloader" / "run.sh",
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > launched.txt\n"
                  "sleep 0.3\necho done > finished.txt\n");
        WriteText(source / "downloader" / "data.bin", std::string(dataBytes, 'd'));
        WriteText(source / "skin" / "skin.ini", "[skin]\ncolour=teal\n");
        Publish("downloader", "dlpartner", "downloader", "run.sh", nodes);
        Publish("skin", "skinpartner", "skin", "skin.ini", nodes);
    }

    void Publish(const std::string& folder, const std::string& partner, const std::string& package,
                 const std::string& run, const std::vector<std::string>& nodes) {
        publish::PublishOptions options;
        options.source = source / folder;
        options.root = root.path();
        options.partnerId = partner;
        options.packageId = package;
        options.versionId = "1";
        options.run = run;
        options.chunkSize = 64 * 1024;
        for (const auto& node : nodes)
            options.nodes.push_back({node, "/packages/"});
        options.current = true;
        publish::Publish(options);
    }

    // The test bootstrapper, its string table naming the packages published here.
    std::unique_ptr<ChildProgram> Start(const std::vector<std::string>& arguments) {
        return std::make_unique<ChildProgram>(
            QELT_TEST_BOOTSTRAPPER, arguments, output.path(),
            std::vector<std::string>{
                "TMPDIR=" + tmp.path().string(), "http_proxy=", "QELT_TEST_ANALYTICS_HOST=" + Node(0),
                "QELT_TEST_STRING_102=" + Node(0), "QELT_TEST_STRING_103=dlpartner",
                "QELT_TEST_STRING_104=skinpartner", "QELT_TEST_STRING_105=game", "QELT_TEST_STRING_106=skin",
                "QELT_TEST_STRING_107=downloader", "QELT_TEST_STRING_108=Vellamor",
                "QELT_TEST_STRING_109=Vellamor Folder", "QELT_TEST_STRING_129=", "QELT_TEST_STRING_130="});
    }

    fs::path DataFolder() const { return tmp / "Orvane Technologies" / "Quorvel"; }

    std::size_t RecordCount() const {
        const fs::path records = DataFolder() / "transfers";
        std::size_t count = 0;
        std::error_code error;
        for (fs::directory_iterator entry(records, error), end; !error && entry != end; entry.increment(error))
            if (entry->path().extension() == ".json") ++count;
        return count;
    }

    TempDir root;
    TempDir source;
    TempDir tmp;
    TempDir output;
    std::optional<NginxServer> nginx;
};

TEST_F(BootstrapperProcessTest, FetchesBothPackagesStartsTheProgramWithItsArgumentsAndWaitsForIt) {
    StartMirror();
    PublishPackages({Node(1), Node(2)});
    const ProgramResult run = Start({"packageVersion=7", "log=5"})->Wait();
    EXPECT_EQ(run.exitCode, 0) << run.err;

    const std::string expected = " /host \"" + Node(0) +
                                 "\" /id \"skinpartner\" /package \"game\" /name \"Vellamor\" /folder \"Vellamor "
                                 "Folder\" /version \"7\" /skin \"skin/skin.ini\" /log \"5\"";
    std::string received;
    for (const auto& argument : SplitArgumentString(expected))
        received += argument + "\n";
    EXPECT_EQ(ReadText(DataFolder() / "launched.txt"), received);
    EXPECT_TRUE(fs::exists(DataFolder() / "finished.txt")) << "the bootstrapper did not wait for the program";
    EXPECT_EQ(ReadText(DataFolder() / "data.bin"), std::string(300000, 'd'));
    EXPECT_EQ(ReadText(DataFolder() / "skin" / "skin.ini"), "[skin]\ncolour=teal\n");
    std::string program;  // the test bootstrapper's own path, as UTF-16LE text in the shortcut
    for (const char c : fs::path(QELT_TEST_BOOTSTRAPPER).filename().string())
        program += {c, '\0'};
    EXPECT_NE(ReadText(DataFolder() / "shortcuts" / "game.url").find(program), std::string::npos);
    EXPECT_NE(run.err.find("Vellamor Downloader\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Launching Vellamor Downloader"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
}

TEST_F(BootstrapperProcessTest, WithEveryMirrorDownItEndsAfterTheConnectionMessage) {
    StartMirror();
    TestHttpServer down;
    down.SetRefusingConnections(true);
    PublishPackages({"127.0.0.1:" + std::to_string(down.Port())});
    const ProgramResult run = Start({})->Wait();
    EXPECT_EQ(run.exitCode, 0);
    const std::string& err = run.err;
    const std::string message =
        "Vellamor Downloader Error: We couldn't establish a connection. Could you please check your connection "
        "and try again?\n";
    ASSERT_GE(err.size(), message.size()) << err;
    EXPECT_EQ(err.substr(err.size() - message.size()), message);
    EXPECT_EQ(err.find("Error"), err.size() - message.size() + std::strlen("Vellamor Downloader "))
        << "one message";
    EXPECT_FALSE(fs::exists(DataFolder() / "launched.txt"));
}

TEST_F(BootstrapperProcessTest, CtrlCEndsTheDialogAndSuspendsTheTransfers) {
    StartMirror({0, 40000, 40000});  // slow nodes, so the transfers are still running when the user interrupts
    PublishPackages({Node(1), Node(2)}, 2000000);
    const auto bootstrapper = Start({});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (RecordCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(RecordCount(), 2u) << "both transfers should have started";
    bootstrapper->Signal(SIGINT);
    const ProgramResult run = bootstrapper->Wait(20s);
    EXPECT_EQ(run.exitCode, 0) << "signal " << run.signal << ": " << run.err;
    EXPECT_EQ(RecordCount(), 2u) << "a suspended transfer keeps its record; a cancelled one would lose it";
    EXPECT_FALSE(fs::exists(DataFolder() / "launched.txt"));
    EXPECT_EQ(run.err.find("Error"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qelt::test

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tools/qelt_publish/publisher.h"

extern char** environ;

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

// The test bootstrapper as a child process: standard input empty, both outputs in files, an environment of the
// process's own with the given additions.
class BootstrapperProcess {
public:
    BootstrapperProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env,
                        const fs::path& outputFolder)
        : errPath_(outputFolder / "bootstrapper.err") {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            if (!env.contains(text.substr(0, text.find('=')))) environment.push_back(text);
        }
        for (const auto& [name, value] : env)
            environment.push_back(name + "=" + value);
        std::vector<std::string> all{QELT_TEST_BOOTSTRAPPER};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv, envp;
        for (auto& text : all)
            argv.push_back(text.data());
        for (auto& text : environment)
            envp.push_back(text.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int error = posix_spawn(&pid_, all.front().c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) throw std::runtime_error("cannot start the bootstrapper: " + std::string(strerror(error)));
    }

    ~BootstrapperProcess() {
        if (!exitStatus_) {
            kill(pid_, SIGKILL);
            Wait(10s);
        }
    }

    void Interrupt() const { kill(pid_, SIGINT); }

    // The exit code once the process has ended by itself within `timeout`; -1 when it was killed, by a signal or
    // because it was still running.
    int Wait(std::chrono::seconds timeout = 60s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!exitStatus_) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exitStatus_ = status;
            } else if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the bootstrapper did not end within " << timeout.count() << " s";
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                exitStatus_ = -1;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return *exitStatus_ >= 0 && WIFEXITED(*exitStatus_) ? WEXITSTATUS(*exitStatus_) : -1;
    }

    std::string StandardError() const { return ReadText(errPath_); }

private:
    fs::path errPath_;
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
};

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

    std::map<std::string, std::string> Environment() const {
        return {{"TMPDIR", tmp.path().string()},
                {"http_proxy", ""},
                {"QELT_TEST_ANALYTICS_HOST", Node(0)},
                {"QELT_TEST_STRING_102", Node(0)},
                {"QELT_TEST_STRING_103", "dlpartner"},
                {"QELT_TEST_STRING_104", "skinpartner"},
                {"QELT_TEST_STRING_105", "game"},
                {"QELT_TEST_STRING_106", "skin"},
                {"QELT_TEST_STRING_107", "downloader"},
                {"QELT_TEST_STRING_108", "Vellamor"},
                {"QELT_TEST_STRING_109", "Vellamor Folder"},
                {"QELT_TEST_STRING_129", ""},
                {"QELT_TEST_STRING_130", ""}};
    }

    BootstrapperProcess Start(const std::vector<std::string>& arguments) {
        return BootstrapperProcess(arguments, Environment(), output.path());
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
    BootstrapperProcess bootstrapper = Start({"packageVersion=7", "log=5"});
    EXPECT_EQ(bootstrapper.Wait(), 0);

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
    const std::string err = bootstrapper.StandardError();
    EXPECT_NE(err.find("Vellamor Downloader\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Launching Vellamor Downloader"), std::string::npos) << err;
    EXPECT_EQ(err.find("Error"), std::string::npos) << err;
}

TEST_F(BootstrapperProcessTest, WithEveryMirrorDownItEndsAfterTheConnectionMessage) {
    StartMirror();
    TestHttpServer down;
    down.SetRefusingConnections(true);
    PublishPackages({"127.0.0.1:" + std::to_string(down.Port())});
    BootstrapperProcess bootstrapper = Start({});
    EXPECT_EQ(bootstrapper.Wait(), 0);
    const std::string err = bootstrapper.StandardError();
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
    BootstrapperProcess bootstrapper = Start({});
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (RecordCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(RecordCount(), 2u) << "both transfers should have started";
    bootstrapper.Interrupt();
    EXPECT_EQ(bootstrapper.Wait(20s), 0) << bootstrapper.StandardError();
    EXPECT_EQ(RecordCount(), 2u) << "a suspended transfer keeps its record; a cancelled one would lose it";
    EXPECT_FALSE(fs::exists(DataFolder() / "launched.txt"));
    EXPECT_EQ(bootstrapper.StandardError().find("Error"), std::string::npos);
}

}  // namespace
}  // namespace qelt::test

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/e2e/fetch_fixture.h"

namespace qelt::test {
namespace {

using namespace std::chrono_literals;

// nginx's limit_rate lets the first second's worth of a response go at once and the rest a second later, so
// every chunk of more than 32 KiB takes a second here. The run file, fetched before the others start, has two
// such chunks: once both are served the other files have just begun, whatever number of chunks runs at once.
class FetchResumeTest : public FetchTest {
protected:
    void SetUp() override {
        NginxOptions options;
        options.root = root;
        options.ports = 4;
        options.rateLimits.assign(4, 32 * 1024);
        nginx = std::make_unique<NginxServer>(options);
        std::vector<std::string> nodes;
        for (std::uint16_t port : nginx->Ports())
            nodes.push_back(Host(port));
        std::string script = "#!/bin/sh\nexit 0\n";
        script += MakeTestContent(100000 - script.size(), 1);
        Publish({{"bin/start", script},
                 {"tools/helper.exe", MakeTestContent(40000, 2)},
                 {"data/level 1#a.pak", MakeTestContent(200000, 3)},
                 {"readme.txt", MakeTestContent(1234, 4)}},
                "bin/start", nodes);
    }

    // Starts a fetch and waits until nginx has served the run file and its bytes are in the destination file
    // (nginx logs a response once it is sent, which on a loaded machine can be well before the client wrote it).
    std::unique_ptr<ChildProgram> StartAndWaitForHalfWay() {
        auto child = StartFetch(Host(nginx->Ports()[0]));
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        for (;;) {
            std::size_t served = 0;
            for (const auto& entry : nginx->AccessLog())
                served += entry.path == MirrorPath("bin/start") ? 1 : 0;
            if (served >= 2 && RunFileIsOnDisk()) break;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the fetch did not get half-way: " << child->Err();
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        return child;
    }

    bool RunFileIsOnDisk() const {
        for (const ChunkRef& chunk : DamagedChunks())
            if (chunk.path == MirrorPath("bin/start")) return false;
        return true;
    }

    // What the stopped run left: some chunks valid, others missing or cut short, and the programs of the package
    // not yet runnable. A second run fetches exactly the chunks that are not valid and completes.
    void ExpectTheNextRunFetchesOnlyWhatIsMissing() {
        const std::size_t before = SettledLogSize();
        const auto damaged = DamagedChunks();
        EXPECT_GT(damaged.size(), 0u);
        EXPECT_LT(damaged.size(), AllChunks().size());
        // The run file is fetched first, but made runnable only once the whole package is verified.
        EXPECT_TRUE(std::filesystem::exists(dest / "bin/start"));
        EXPECT_FALSE(IsExecutable("bin/start"));

        const ProgramResult again = Fetch(Host(nginx->Ports()[3]));
        ASSERT_EQ(again.exitCode, 0) << again.err;
        SettledLogSize();
        EXPECT_EQ(RequestedChunks(before), damaged);
        std::size_t ranges = 0;
        const auto log = nginx->AccessLog();
        for (std::size_t i = before; i < log.size(); ++i)
            ranges += log[i].range.empty() ? 0 : 1;
        EXPECT_EQ(ranges, damaged.size());
        ExpectIdentical();
        EXPECT_TRUE(IsExecutable("bin/start"));
    }
};

TEST_F(FetchResumeTest, AKilledFetchIsContinuedByTheNextRun) {
    auto child = StartAndWaitForHalfWay();
    child->Signal(SIGKILL);
    EXPECT_EQ(child->Wait().signal, SIGKILL);
    ExpectTheNextRunFetchesOnlyWhatIsMissing();
}

TEST_F(FetchResumeTest, CtrlCSuspendsPromptlyAndTheNextRunContinues) {
    auto child = StartAndWaitForHalfWay();
    const auto interrupted = std::chrono::steady_clock::now();
    child->Signal(SIGINT);
    const ProgramResult result = child->Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 3s);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_NE(result.err.find("qelt-fetch: interrupted; the transfer is suspended"), std::string::npos)
        << result.err;
    // Standard error is a file here: progress comes as whole lines, never redrawn in place.
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    EXPECT_NE(result.err.find("% "), std::string::npos) << result.err;
    ExpectTheNextRunFetchesOnlyWhatIsMissing();
}

}  // namespace
}  // namespace qelt::test

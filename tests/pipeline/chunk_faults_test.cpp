#include <gtest/gtest.h>

#include <functional>

#include "manifest/node_list_manifest.h"
#include "selection/node_statistics.h"
#include "tests/pipeline/pipeline_fixture.h"

namespace qelt::test {
namespace {

using namespace std::chrono_literals;

struct MirrorFault {
    const char* name;
    std::function<void(TestHttpServer& mirror, const std::string& path)> inject;
};

HttpFault Fault(std::function<void(HttpFault&)> set) {
    HttpFault fault;
    set(fault);
    return fault;
}

std::ostream& operator<<(std::ostream& out, const MirrorFault& fault) {
    return out << fault.name;
}

const MirrorFault kMirrorFaults[] = {
    {"ServerError",
     [](TestHttpServer& m, const std::string& p) { m.SetFault(p, Fault([](auto& f) { f.status = 503; })); }},
    {"EarlyClose", [](TestHttpServer& m,
                      const std::string& p) { m.SetFault(p, Fault([](auto& f) { f.closeAfterBytes = 1000; })); }},
    {"IgnoredRange",
     [](TestHttpServer& m, const std::string& p) { m.SetFault(p, Fault([](auto& f) { f.ignoreRange = true; })); }},
    {"CorruptedBytes",
     [](TestHttpServer& m, const std::string& p) {
         m.SetFault(p, Fault([](auto& f) {
                        f.corruptOffset = 100;
                        f.corruptLength = 1;
                    }));
     }},
    {"Stall",
     [](TestHttpServer& m, const std::string& p) {
         m.SetFault(p, Fault([](auto& f) {
                        f.stallAfterBytes = 1000;
                        f.stall = 5s;
                    }));
     }},
    {"Trickle", [](TestHttpServer& m,
                   const std::string& p) { m.SetFault(p, Fault([](auto& f) { f.bytesPerSecond = 200; })); }},
    {"Refused", [](TestHttpServer& m, const std::string&) { m.SetRefusingConnections(true); }},
};

class FaultyMirrorTest : public PipelineFixture, public ::testing::WithParamInterface<MirrorFault> {};

// Whatever one mirror does wrong, every chunk ends up right from the other one, each verified exactly once.
TEST_P(FaultyMirrorTest, EveryChunkEndsUpRightFromTheHealthyMirror) {
    Publish({{"data.bin", MakeTestContent(8 * 16384 + 5, 4)}}, "", 2);
    GetParam().inject(*mirrors[0], FilePath("data.bin"));

    const WorkStatus status = Transfer();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    ExpectFilesMatch();
    const TransferStatus counters = iface->Status();
    EXPECT_EQ(counters.bytesTransferred, TotalSize());
    EXPECT_EQ(counters.bytesVerified, TotalSize());
    EXPECT_GE(counters.bytesDownloaded, TotalSize());

    const auto faulty = Services().optimizer.GetStatistics(*iface->GetNodeList()->GetNodes()[0]);
    EXPECT_GT(faulty->Errors().Get(), 0) << "the faulty mirror was asked and learnt as failing";
    EXPECT_EQ(Services().optimizer.GetStatistics(*iface->GetNodeList()->GetNodes()[1])->Errors().Get(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultyMirrorTest, ::testing::ValuesIn(kMirrorFaults),
                         [](const auto& info) { return std::string(info.param.name); });

class MirrorChoiceTest : public PipelineFixture {};

// A mirror that sends corrupted bytes at full speed looks fast to the network layer; only the checksum shows it
// is useless, and the optimizer must learn that.
TEST_F(MirrorChoiceTest, CorruptingMirrorAmongHealthyOnesEndsUpChosenRarely) {
    const PackageFile file{"data.bin", MakeTestContent(128 * 4096, 9), 4096};
    Publish({file}, "", 3);
    // Last in the node list: a gamble trial in which no mirror draws a positive speed goes to the first.
    mirrors[2]->SetFault(FilePath(file.path), Fault([](auto& f) {
                             f.corruptOffset = 0;
                             f.corruptLength = 1;
                         }));

    const WorkStatus status = Transfer();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    ExpectFilesMatch();
    const std::size_t corrupted = ChunkRequests(*mirrors[2]).size();
    const std::size_t healthy = ChunkRequests(*mirrors[0]).size() + ChunkRequests(*mirrors[1]).size();
    EXPECT_EQ(healthy, 128u) << "every chunk served once by a healthy mirror";
    // Exploring the three mirrors takes a handful of requests; a mirror learnt as fast would get about a third.
    EXPECT_LE(corrupted, 16u) << "beyond exploring it, the corrupting mirror should hardly be chosen";
    EXPECT_EQ(iface->Status().bytesDownloaded, (128u + corrupted) * 4096u);
}

TEST_F(MirrorChoiceTest, ChunkThatNeverVerifiesPausesTheWorkflowAfterItsBudget) {
    const PackageFile file{"data.bin", MakeTestContent(5000, 3)};
    Publish({file});
    mirrors[0]->SetFault(FilePath(file.path), Fault([](auto& f) { f.corruptLength = 1; }));
    StartTransfer();
    const auto error = iface->WaitFor("retryableError");
    ASSERT_TRUE(error);
    auto checksum = std::dynamic_pointer_cast<TransferStatusData>(error->data);
    ASSERT_TRUE(checksum);
    EXPECT_EQ(checksum->ToTransferError(), TransferError::ChecksumError);
    EXPECT_EQ(ChunkRequests(*mirrors[0]).size(), 5u) << "one download and four more, the default budget";
    const TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesTransferred, 0u) << "nothing of a chunk that failed its checksum stays counted";
    EXPECT_EQ(status.bytesVerified, 0u);
    EXPECT_EQ(status.bytesDownloaded, 5u * 5000u);
}

TEST_F(MirrorChoiceTest, PausingCancelsARunningDownloadWhichResumesLater) {
    const PackageFile file{"data.bin", MakeTestContent(16384, 3)};
    Publish({file});
    mirrors[0]->SetFault(FilePath(file.path), Fault([](auto& f) {
                             f.stallAfterBytes = 100;
                             f.stall = 20s;
                         }),
                         1);
    settings.minLowSpeedTime = settings.maxLowSpeedTime = 30;
    StartTransfer();
    ASSERT_TRUE(mirrors[0]->WaitForRequestCount(1, 10s));
    ASSERT_TRUE(workflow->Pause());
    auto& standard = static_cast<StandardWorkflow&>(*workflow);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (standard.RunningCount() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(standard.RunningCount(), 0u) << "the stalled request was not interrupted";
    EXPECT_EQ(iface->CountOf("complete"), 0u);

    ASSERT_TRUE(workflow->Resume());
    const WorkStatus status = WaitForRoot();
    ASSERT_EQ(status.result, WorkResult::Success) << Describe(status);
    ExpectFilesMatch();
    EXPECT_EQ(ChunkRequests(*mirrors[0]).size(), 2u);
    EXPECT_EQ(iface->Status().bytesTransferred, TotalSize()) << "the cancelled attempt's bytes are not counted";
    EXPECT_EQ(Services().optimizer.GetStatistics(*iface->GetNodeList()->GetNodes()[0])->Errors().Get(), 0)
        << "a cancelled request is not a failure of the node";
}

}  // namespace
}  // namespace qelt::test

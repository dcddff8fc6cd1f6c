#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pipeline/status_data.h"
#include "tests/transfer/transfer_fixture.h"
#include "transfer/transfer_status_impl.h"
#include "work/no_op_work.h"
#include "work/standard_workflow.h"

namespace qelt::test {
namespace {

std::vector<PackageFile> TwoFiles() {
    return {{"run.exe", MakeTestContent(2 * 16384 + 3, 3)}, {"data/b.bin", MakeTestContent(16384, 4)}};
}

WorkStatus FatalStatus(TransferError error, const std::string& message) {
    return WorkStatus(WorkResult::FatalError, std::make_shared<TransferErrorData>(error, message));
}

class TransferReportsTest : public TransferFixture {
protected:
    std::shared_ptr<StandardTransfer> Initialized(const TransferParams& params) {
        auto transfer = NewTransfer(params);
        transfer->Initialize();
        WaitForState(*transfer, TransferState::Initialized);
        return transfer;
    }
    // The fatal-error bodies naming this error and message.
    std::size_t FatalErrorsWith(TransferError error, const std::string& message) const {
        const std::string text = "\"error\":\"error|" + std::to_string(int(error)) + "|" + message + "\"";
        std::size_t count = 0;
        for (const auto& body : EventBodies())
            count += body.find("numFatalErrors") != std::string::npos && body.find(text) != std::string::npos;
        return count;
    }
    const std::shared_ptr<Work> work_ = std::make_shared<NoOpWork>();
};

TEST_F(TransferReportsTest, SuccessWithIncompleteProgressEndsTheTransferOnce) {
    Publish(TwoFiles());
    auto transfer = Initialized(Params());
    {
        PoolGate gate(Pool());
        transfer->Start(dest.path().string());
        transfer->GetWorkInterface()->GetCompleteCallback()->OnWorkComplete(work_,
                                                                            WorkStatus(WorkResult::Success));
        const TransferStatus status = transfer->Update();
        EXPECT_EQ(status.state, TransferState::Transferring) << "a fatal error keeps the state";
        EXPECT_EQ(status.error, TransferError::InternalError);
        EXPECT_FALSE(status.errorRetryable);
        // Every further operation is a no-op.
        EXPECT_EQ(transfer->Pause().state, TransferState::Transferring);
        EXPECT_EQ(transfer->Cancel(false).state, TransferState::Transferring);
        EXPECT_EQ(transfer->Suspend().state, TransferState::Transferring);
    }
    WaitForTreeReleased(*transfer);
    EXPECT_EQ(ChunkRequestCount(), 0u) << "the workflow was cancelled before anything ran";

    Drain();
    // One event: the root's report of the cancellation the failure itself caused is ignored.
    EXPECT_EQ(CountOf("numFatalErrors"), 1u);
    EXPECT_EQ(FatalErrorsWith(TransferError::InternalError,
                              "Transfer::OnWorkComplete called with Success result but progress is not complete"),
              1u);
    EXPECT_EQ(CountOf("numPauses") + CountOf("numCancels") + CountOf("numSuspends"), 0u);
}

TEST_F(TransferReportsTest, PackageOfAnotherPartnerIsAManifestError) {
    Publish(TwoFiles());
    TransferParams params = Params();
    params.partnerId = "another";
    manifests.AddFile("/nodes/another.xml", NodeListXml({HostOf(*mirrors[0])}));
    auto transfer = NewTransfer(params);
    transfer->Initialize();
    const TransferStatus status =
        WaitForState(*transfer, TransferState::Initializing, TransferError::ManifestError);
    EXPECT_FALSE(status.errorRetryable);
    EXPECT_EQ(status.versionId, "?") << "the package was not accepted";

    Drain();
    EXPECT_EQ(CountOf("numFatalErrors"), 1u);
    EXPECT_EQ(FatalErrorsWith(TransferError::ManifestError,
                              "Transfer::OnPackageAcquire called but package does not match ids"),
              1u);
    EXPECT_EQ(CountOf("numInitializeCompletes"), 0u);
}

TEST_F(TransferReportsTest, InconsistentReportsFailWithTheirMessages) {
    struct Case {
        std::function<void(TransferWorkInterface&)> report;
        TransferError error;
        std::string message;
        TransferState state = TransferState::Initializing;
    };
    const auto package = std::make_shared<PackageStatusData>(ReadPackage(TwoFiles()));
    const auto nodes = std::make_shared<NodeListStatusData>(ReadNodeList({"127.0.0.1:1"}));
    Pool();
    const auto otherWorkflow = StandardWorkflow::Create(work_, &Pool(), 1);
    const std::vector<Case> cases = {
        {[&](TransferWorkInterface& i) {
             i.GetCompleteCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Failure));
         },
         TransferError::InternalError,
         "Transfer::OnWorkComplete called with error result but data is not TransferStatusData"},
        {[&](TransferWorkInterface& i) {
             i.GetCompleteCallback()->OnWorkComplete(work_, FatalStatus(TransferError::None, "x"));
         },
         TransferError::InternalError,
         "Transfer::OnWorkComplete called with error result but data->ToTransferError() is None"},
        {[&](TransferWorkInterface& i) {
             i.GetCompleteCallback()->OnWorkComplete(work_, FatalStatus(TransferError::DiskFullError, "full"));
         },
         TransferError::DiskFullError, "full"},
        {[&](TransferWorkInterface& i) {
             i.GetPackageCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, nodes));
         },
         TransferError::InternalError,
         "Transfer::OnPackageAcquire called but data is not PackageStatusData or package is null"},
        {[&](TransferWorkInterface& i) {
             i.GetNodeListCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, package));
         },
         TransferError::InternalError,
         "Transfer::OnNodeListAcquire called but data is not NodeListStatusData or nodelist is null"},
        {[&](TransferWorkInterface& i) {
             i.GetPackageCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, package));
             i.GetInitializeCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success));
         },
         TransferError::InternalError, "Transfer::OnInitialize called but nodelist is missing"},
        {[&](TransferWorkInterface& i) {
             i.GetInitializeCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success));
         },
         TransferError::InternalError, "Transfer::OnInitialize called but package is missing"},
        {[&](TransferWorkInterface& i) {
             i.GetPackageCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, package));
             i.GetNodeListCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, nodes));
             i.GetInitializeCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success));
             i.GetPackageCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, package));
         },
         TransferError::InternalError, "Transfer::OnPackageAcquire called but transfer is not initializing",
         TransferState::Initialized},
        {[&](TransferWorkInterface& i) {
             i.GetRetryableErrorCallback()->OnWorkflowRetryableError(
                 otherWorkflow, work_, FatalStatus(TransferError::ConnectionError, "x"));
         },
         TransferError::InternalError, "Transfer::OnWorkflowRetryableError called on wrong workflow"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        TransferParams params = Params();
        params.transferId = "t" + std::to_string(i);
        // Not initialised: the reports meet a transfer in state Initializing whose workflow never started.
        auto transfer = NewTransfer(params);
        cases[i].report(*transfer->GetWorkInterface());
        const TransferStatus status = transfer->Update();
        EXPECT_EQ(status.error, cases[i].error) << cases[i].message;
        EXPECT_FALSE(status.errorRetryable) << cases[i].message;
        EXPECT_EQ(status.state, cases[i].state) << cases[i].message;
    }
    Drain();
    EXPECT_EQ(CountOf("numFatalErrors"), cases.size());
    for (const auto& c : cases)
        EXPECT_EQ(FatalErrorsWith(c.error, c.message), 1u) << c.message;
}

TEST_F(TransferReportsTest, CancelWithDiscardDeletesCreatedFilesAndThoseReportedLater) {
    Publish(TwoFiles());
    auto first = Initialized(Params());
    first->Start(dest.path().string());
    WaitForState(*first, TransferState::Complete);
    WaitForTreeReleased(*first);
    ASSERT_TRUE(std::filesystem::exists(dest / "data/b.bin"));
    EXPECT_EQ(first->Cancel(true).state, TransferState::Complete) << "not active: no cancellation";
    EXPECT_FALSE(std::filesystem::exists(dest / "run.exe"));
    EXPECT_FALSE(std::filesystem::exists(dest / "data/b.bin"));

    TransferParams params = Params();
    params.transferId = "t2";
    auto second = Initialized(params);
    {
        PoolGate gate(Pool());
        second->Start(dest.path().string());
        // Files this run would verify in place, still held by its works when the transfer is cancelled.
        for (const auto& file : files_)
            std::ofstream(dest / file.path, std::ios::binary) << file.content;
        EXPECT_EQ(second->Cancel(true).state, TransferState::Cancelled);
        EXPECT_TRUE(std::filesystem::exists(dest / "run.exe")) << "not reported by its works yet";
    }
    WaitForTreeReleased(*second);
    EXPECT_FALSE(std::filesystem::exists(dest / "run.exe"));
    EXPECT_FALSE(std::filesystem::exists(dest / "data/b.bin"));
    EXPECT_EQ(second->Cancel(true).state, TransferState::Cancelled);

    Drain();
    EXPECT_EQ(CountOf("numCancels"), 1u);
}

TEST_F(TransferReportsTest, ReportsAfterCancelAndLateReportsOfAnOldRunChangeNothing) {
    Publish(TwoFiles());
    const auto package = std::make_shared<PackageStatusData>(ReadPackage(TwoFiles()));
    auto cancelled = Initialized(Params());
    auto iface = cancelled->GetWorkInterface();
    cancelled->Cancel(false);
    iface->GetPackageCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success, package));
    iface->GetInitializeCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success));
    iface->GetCompleteCallback()->OnWorkComplete(work_, FatalStatus(TransferError::ConnectionError, "late"));
    TransferStatus status = cancelled->Update();
    EXPECT_EQ(status.state, TransferState::Cancelled);
    EXPECT_EQ(status.error, TransferError::None);

    TransferParams params = Params();
    params.transferId = "t2";
    auto suspended = Initialized(params);
    {
        PoolGate gate(Pool());
        suspended->Start(dest.path().string());
        const auto old = suspended->GetWorkInterface();
        suspended->Suspend();
        EXPECT_NE(suspended->GetWorkInterface(), old) << "a suspension replaces the data and its interface";
        old->GetCompleteCallback()->OnWorkComplete(work_, FatalStatus(TransferError::ConnectionError, "late"));
        old->GetCompleteCallback()->OnWorkComplete(work_, WorkStatus(WorkResult::Success));
        EXPECT_EQ(old->GetParams().transferId, "t2") << "the old data stays readable for its works";
        status = suspended->Update();
        EXPECT_EQ(status.state, TransferState::Suspended);
        EXPECT_EQ(status.error, TransferError::None);
    }
    suspended->Restore();
    WaitForState(*suspended, TransferState::Initialized);
    suspended->Start("?");
    WaitForState(*suspended, TransferState::Complete);
    ExpectFilesMatch();

    Drain();
    EXPECT_EQ(CountOf("numFatalErrors"), 0u);
    EXPECT_EQ(CountOf("numCompletes"), 1u);
}

}  // namespace
}  // namespace qelt::test

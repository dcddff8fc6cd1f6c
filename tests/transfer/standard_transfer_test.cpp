#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/property_tree/json_parser.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/transfer/transfer_fixture.h"
#include "transfer/transfer_status_impl.h"

namespace qelt::test {
namespace {

std::vector<PackageFile> TwoFiles() {
    return {{"run.exe", MakeTestContent(3 * 16384 + 7, 1)}, {"data/a.bin", MakeTestContent(2 * 16384, 2)}};
}

std::string Ids(const std::string& version) {
    return std::string(R"("pid":"partner","pkgid":"pkg","vid":")") + version + "\"";
}

std::string Count(const std::string& counter, const std::string& version = kVersion) {
    return "{" + Ids(version) + R"(,"metrics":{")" + counter + R"(":"1"},"dimensions":{}})";
}

std::string State(const std::string& status, const std::string& bytes, const std::string& seconds = "0") {
    return "{" + Ids(kVersion) + R"(,"tid":"t1","status":")" + status + R"(","transferBytes":")" + bytes +
           R"(","duration":")" + seconds + "\"}\n";
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// What a persisting subclass needs to know: whether the start it asked for emitted its event.
class StartRecordingTransfer : public StandardTransfer {
public:
    using StandardTransfer::StandardTransfer;
    ~StartRecordingTransfer() override { DisconnectWorks(); }
    TransferStatus Start(const std::string& destPath) override {
        return Guarded([&](Lock& lock) {
            TransferStatus status = DoStart(lock, destPath);
            emitted.push_back(EmittedEvent(lock));
            return status;
        });
    }
    std::vector<bool> emitted;
};

class StandardTransferTest : public TransferFixture {
protected:
    // The log's transfer events (not the works' entries), by name.
    std::vector<std::string> LoggedEvents() const {
        std::vector<std::string> names;
        for (const auto& entry : LogEntries())
            if (entry.event != "OnWorkComplete" && entry.event != "OnSimpleWorkRetry")
                names.push_back(entry.event);
        return names;
    }
    // Until the events host has `count` bodies and the log `logged` transfer events.
    void WaitForEvents(std::size_t count, std::size_t logged) {
        ASSERT_TRUE(WaitUntil([&] { return EventBodies().size() == count && LoggedEvents().size() == logged; }))
            << EventBodies().size() << " bodies, " << LoggedEvents().size() << " logged events";
    }
};

TEST_F(StandardTransferTest, OnePackageFromInitializeToCompleteWithEveryEventInOrder) {
    Publish(TwoFiles(), "run.exe");
    auto transfer = NewTransfer(Params());
    EXPECT_EQ(transfer->GetNodesJson(), "[]");
    EXPECT_FALSE(transfer->HasSufficientSpace(dest.path().string())) << "nothing is known before initialisation";

    // The gate holds the works back until the event of the operation has arrived, so the hosts see the events in
    // the order the transfer raised them.
    {
        PoolGate gate(Pool());
        EXPECT_EQ(transfer->Initialize().state, TransferState::Initializing);
        WaitForEvents(1, 1);
    }
    TransferStatus status = WaitForState(*transfer, TransferState::Initialized);
    EXPECT_EQ(status.versionId, kVersion) << "the package names the current version";
    EXPECT_EQ(status.destPath, "?");
    EXPECT_EQ(status.bytesTotal, TotalSize());
    EXPECT_EQ(status.runPath, "") << "reported only once complete";
    EXPECT_EQ(ChunkRequestCount(), 0u) << "the workflow waits for a destination";
    EXPECT_TRUE(transfer->HasSufficientSpace(dest.path().string()));
    EXPECT_TRUE(transfer->HasSufficientSpace((dest / "not/yet/created").string()))
        << "measured on the nearest existing folder";
    std::istringstream nodesJson(transfer->GetNodesJson());
    boost::property_tree::ptree nodes;
    boost::property_tree::read_json(nodesJson, nodes);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes.front().second.get("Node", ""), HostOf(*mirrors[0]));
    EXPECT_EQ(nodes.front().second.get("Path", ""), "/packages/");
    WaitForEvents(2, 2);

    {
        PoolGate gate(Pool());
        status = transfer->Start(dest.path().string());
        EXPECT_EQ(status.state, TransferState::Transferring);
        EXPECT_EQ(status.destPath, dest.path().string());
        WaitForEvents(3, 3);
    }
    status = WaitForState(*transfer, TransferState::Complete);
    EXPECT_EQ(status.runPath, "run.exe");
    EXPECT_EQ(status.bytesDownloaded, TotalSize());
    EXPECT_EQ(status.bytesTransferred, TotalSize());
    EXPECT_EQ(status.bytesVerified, TotalSize());
    ExpectFilesMatch();
    WaitForEvents(4, 4);
    ASSERT_TRUE(WaitUntil([&] { return TransferBodies().size() == 2; }));

    const auto bodies = EventBodies();
    EXPECT_EQ(bodies[0], Count("numInitializes", "?") + "\n") << "the version is not known yet";
    EXPECT_EQ(bodies[1], Count("numInitializeCompletes") + "\n");
    EXPECT_EQ(bodies[2], Count("numStarts") + "\n");
    const std::string total = std::to_string(TotalSize());
    EXPECT_TRUE(StartsWith(
        bodies[3], "[" + Count("numCompletes") + ",{" + Ids(kVersion) + R"(,"metrics":{"bytes":")" + total + "\""))
        << bodies[3];
    EXPECT_NE(bodies[3].find(R"("dimensions":{"cdn":")" + HostOf(*mirrors[0]) + "\"}}]"), std::string::npos);

    const auto states = TransferBodies();
    EXPECT_EQ(states[0], State("active", "0"));
    EXPECT_TRUE(StartsWith(
        states[1], "{" + Ids(kVersion) + R"(,"tid":"t1","status":"completed","transferBytes":")" + total + "\""))
        << states[1];

    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"Initialize", "InitializeComplete", "Start", "Complete"}));
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& entry : LogEntries()) {
            if (entry.params.get("name", "") == "TransferPackageWork") return true;
        }
        return false;
    })) << "the root's completion is logged: it is important";
    for (const auto& entry : LogEntries()) {
        if (entry.event == "Complete") {
            EXPECT_EQ(entry.params.get("destPath", ""), dest.path().string());
        }
        if (entry.params.get("name", "") == "TransferPackageWork") {
            EXPECT_EQ(entry.params.get("workStatus.result", ""), "0");
        }
    }
}

TEST_F(StandardTransferTest, StartNeedsAnInitializedTransferAndOneDestination) {
    Publish(TwoFiles());
    auto transfer = std::make_shared<StartRecordingTransfer>(Params(), Behavior(), Factory());
    EXPECT_EQ(transfer->Start(dest.path().string()).state, TransferState::Initializing) << "not initialised yet";
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    EXPECT_EQ(transfer->Start("?").state, TransferState::Initialized) << "no destination at all";
    EXPECT_EQ(transfer->Start(dest.path().string()).state, TransferState::Transferring);

    // A transfer that already has a destination accepts only that one, or "?" for it.
    TransferParams stored = Params();
    stored.transferId = "t2";
    stored.destPath = (dest / "second").string();
    std::filesystem::create_directories(stored.destPath);
    auto second = NewTransfer(stored);
    second->Initialize();
    WaitForState(*second, TransferState::Initialized);
    EXPECT_EQ(second->Start(dest.path().string()).state, TransferState::Initialized);
    EXPECT_EQ(second->Start("?").state, TransferState::Transferring);
    EXPECT_EQ(second->Start("?").state, TransferState::Transferring) << "a second Start changes nothing";
    WaitForState(*transfer, TransferState::Complete);
    WaitForState(*second, TransferState::Complete);
    EXPECT_EQ(transfer->emitted, (std::vector<bool>{false, false, true}));

    transfer.reset();
    Drain();
    EXPECT_EQ(CountOf("numStarts"), 2u);
}

TEST_F(StandardTransferTest, PauseResumeSuspendRestoreAndCancelFollowTheTable) {
    Publish(TwoFiles());
    auto transfer = NewTransfer(Params());
    {
        PoolGate gate(Pool());
        transfer->Initialize();
        EXPECT_EQ(transfer->Initialize().state, TransferState::Initializing) << "the workflow starts once";
        EXPECT_EQ(transfer->Pause().state, TransferState::InitializingPaused);
        EXPECT_EQ(transfer->Pause().state, TransferState::InitializingPaused);
        EXPECT_EQ(transfer->Resume().state, TransferState::Initializing);
        EXPECT_EQ(transfer->Retry().state, TransferState::Initializing) << "no error to retry";
    }
    WaitForState(*transfer, TransferState::Initialized);
    EXPECT_EQ(transfer->Pause().state, TransferState::Initialized) << "nothing runs while initialised";
    {
        PoolGate gate(Pool());
        transfer->Start(dest.path().string());
        EXPECT_EQ(transfer->Pause().state, TransferState::TransferringPaused);
        EXPECT_EQ(transfer->Resume().state, TransferState::Transferring);
    }
    WaitForState(*transfer, TransferState::Complete);

    // A complete transfer is suspended quietly, with fresh counters, and restored into a new run.
    TransferStatus status = transfer->Suspend();
    EXPECT_EQ(status.state, TransferState::Suspended);
    EXPECT_EQ(status.bytesVerified, 0u);
    EXPECT_EQ(status.bytesTotal, 0u);
    EXPECT_EQ(transfer->Resume().state, TransferState::Suspended);
    EXPECT_EQ(transfer->Restore().state, TransferState::Initializing);
    status = WaitForState(*transfer, TransferState::Initialized);
    EXPECT_EQ(status.destPath, dest.path().string()) << "the destination survives a suspension";
    {
        PoolGate gate(Pool());
        transfer->Start("?");
        // Flagged suspended now, so even a transfer that is not yet moving bytes is suspended, not cancelled.
        EXPECT_EQ(transfer->Suspend().state, TransferState::Suspended);
    }
    EXPECT_EQ(transfer->Cancel(false).state, TransferState::Suspended) << "a suspended transfer is not active";
    {
        // Cancelled before the restored run's manifests can arrive.
        PoolGate gate(Pool());
        transfer->Restore();
        EXPECT_EQ(transfer->Cancel(false).state, TransferState::Cancelled);
    }
    EXPECT_EQ(transfer->Cancel(false).state, TransferState::Cancelled);
    EXPECT_EQ(transfer->Restore().state, TransferState::Cancelled);

    Drain();
    EXPECT_EQ(CountOf("numInitializes"), 1u);
    EXPECT_EQ(CountOf("numPauses"), 2u);
    EXPECT_EQ(CountOf("numResumes"), 2u);
    EXPECT_EQ(CountOf("numRetries"), 0u);
    EXPECT_EQ(CountOf("numStarts"), 2u);
    EXPECT_EQ(CountOf("numCompletes"), 1u);
    EXPECT_EQ(CountOf("numSuspends"), 1u) << "none for the complete transfer";
    EXPECT_EQ(CountOf("numRestores"), 2u);
    EXPECT_EQ(CountOf("numCancels"), 1u);
    EXPECT_EQ(CountOf("numInitializeCompletes"), 2u) << "each run fetches its manifests again";
}

TEST_F(StandardTransferTest, SuspendWhileInitializingCancelsAndConstructedSuspendedWaitsForRestore) {
    Publish(TwoFiles());
    auto transfer = NewTransfer(Params());
    transfer->Initialize();
    EXPECT_EQ(transfer->Suspend().state, TransferState::Cancelled);

    TransferParams flagged = Params();
    flagged.transferId = "t2";
    flagged.suspended = true;
    auto suspended = NewTransfer(flagged);
    EXPECT_EQ(suspended->Initialize().state, TransferState::Suspended);
    EXPECT_EQ(suspended->Suspend().state, TransferState::Suspended);
    EXPECT_EQ(suspended->Restore().state, TransferState::Initializing);
    WaitForState(*suspended, TransferState::Initialized);

    Drain();
    EXPECT_EQ(CountOf("numCancels"), 1u);
    EXPECT_EQ(CountOf("numSuspends"), 0u);
    EXPECT_EQ(CountOf("numRestores"), 1u);
}

TEST_F(StandardTransferTest, PeriodicEventFollowsActiveTimeAtTheStatusPolls) {
    Publish(TwoFiles());
    std::atomic<std::uint32_t> nowMs{1000};
    TransferBehavior behavior = Behavior();
    behavior.clock = [&nowMs] { return nowMs.load(); };
    auto transfer = NewTransfer(Params(), behavior);
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    {
        PoolGate gate(Pool());
        transfer->Start(dest.path().string());
        ASSERT_TRUE(WaitUntil([&] { return TransferBodies().size() == 1; }));
        // Bytes arrive as a chunk's writer would count them; nothing else runs behind the gate.
        transfer->GetWorkInterface()->GetProgressUpdater()->AddDownloaded(5000);
        transfer->Update();
        nowMs += 300 * 1000;
        transfer->Update();  // exactly the interval: not more
        nowMs += 1500;
        transfer->Update();
        const auto counters =
            std::dynamic_pointer_cast<TransferStatusImpl>(transfer->GetWorkInterface()->GetProgressUpdater());
        ASSERT_TRUE(counters);
        EXPECT_EQ(counters->ActiveSinceMark(), 301500u) << "decided on the time counted before this poll";
        transfer->Update();
        EXPECT_EQ(counters->ActiveSinceMark(), 0u) << "the event took the delta";
        transfer->Update();
        ASSERT_TRUE(WaitUntil([&] { return TransferBodies().size() == 2; }));
        EXPECT_EQ(TransferBodies()[1], State("active", "5000", "301.5"));
        transfer->Pause();
        nowMs += 400 * 1000;
        transfer->Update();
        transfer->Update();
    }
    Drain();
    EXPECT_EQ(TransferBodies().size(), 2u) << "paused time is not active time";
    EXPECT_EQ(EventBodies().size(), 5u) << "Initialize, InitializeComplete, Start, the periodic nodes, Pause";
    const std::string nodes = "[{" + Ids(kVersion) + R"(,"metrics":{"bytes":"0","requestTime":"0"},)" +
                              R"("dimensions":{"cdn":")" + HostOf(*mirrors[0]) + "\"}}]\n";
    const auto bodies = EventBodies();
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), nodes), 1) << "no node moved a byte";
}

TEST_F(StandardTransferTest, PresentBytesCountAsUsableSpace) {
    // A file far larger than the free space of the volume, described with 1 GiB chunks.
    const std::uint64_t free = std::filesystem::space(dest.path()).available;
    const std::uint64_t size = free + (std::uint64_t(64) << 30);
    const std::uint32_t chunk = 1u << 30;
    std::string xml = std::string("<package><id>") + kPackage + "</id><name>Big</name><partnerId>" + kPartner +
                      "</partnerId><versionId>v1</versionId><files><file><path>big.bin</path><chunksize>" +
                      std::to_string(chunk) + "</chunksize><size>" + std::to_string(size) + "</size><checksums>" +
                      FormatChecksums(std::vector<std::uint32_t>(ChunkCount(chunk, size), 0)) +
                      "</checksums></file></files></package>";
    manifests.AddFile(std::string("/manifests/") + kPackage + "/current.xml", xml);
    manifests.AddFile(std::string("/nodes/") + kPartner + ".xml", NodeListXml({"127.0.0.1:1"}));
    auto transfer = NewTransfer(Params());
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    EXPECT_FALSE(transfer->HasSufficientSpace(dest.path().string()));

    // Sparse: it takes no blocks, yet a transfer into it needs none either.
    std::ofstream(dest / "big.bin").close();
    std::filesystem::resize_file(dest / "big.bin", size);
    EXPECT_TRUE(transfer->HasSufficientSpace(dest.path().string()));
}

}  // namespace
}  // namespace qelt::test

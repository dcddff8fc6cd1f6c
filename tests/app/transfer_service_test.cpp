#include "app/transfer_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/recording_monitor_callback.h"
#include "tests/support/environment_guard.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tests/support/test_package.h"
#include "tests/support/test_transfer.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<PackageFile> TwoFiles() {
    return {{"run.exe", MakeTestContent(5 * 16384 + 11, 1)}, {"data/b.bin", MakeTestContent(4 * 16384, 2)}};
}

// Services built the way the entry routine builds them, pointed at loopback hosts: a manifest host, mirrors,
// and the two analytics hosts; records and logs go to a folder of the test.
class TransferServiceTest : public ::testing::Test {
protected:
    void Publish(const std::vector<PackageFile>& files) {
        files_ = files;
        for (const char* name : {"/current.xml", "/v1.xml"})
            manifests.AddFile(std::string("/manifests/") + kPackage + name, PackageXml(files, "run.exe"));
        manifests.AddFile(std::string("/nodes/") + kPartner + ".xml", NodeListXml({HostOf(mirror)}));
        for (const auto& file : files)
            mirror.AddFile(FilePath(file.path), file.content);
    }

    std::unique_ptr<TransferService> NewService(bool analytics = true) {
        TransferSettings settings = FastSettings();
        settings.manifestHost = HostOf(manifests);
        settings.transfersFolder = (data / "transfers").string();
        settings.logsFolder = (data / "logs").string();
        DeploymentValues deployment;
        if (analytics) deployment = {HostOf(events), HostOf(transferEvents)};
        return std::make_unique<TransferService>(settings, deployment);
    }

    TransferStatus WaitForState(TransferService& service, const std::string& id, TransferState state,
                                std::chrono::seconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        TransferStatus status = service.GetTransferStatus(id);
        while (status.state != state && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
            status = service.GetTransferStatus(id);
        }
        EXPECT_EQ(status.state, state) << "error " << int(status.error);
        return status;
    }

    void ExpectFilesMatch() {
        for (const auto& file : files_)
            EXPECT_EQ(ReadWholeFile(dest / file.path), file.content) << file.path;
    }

    std::optional<TransferParams> Record(const std::string& id) {
        PosixSharedFileFactory files;
        JsonTempFileManifestStore<TransferManifest> store((data / "transfers").string(), &files);
        TransferManifest record;
        if (!store.Load(id, record)) return std::nullopt;
        return record.params;
    }

    // Whether a transfer record with this status reached the transfer analytics host.
    bool SawTransferStatus(const std::string& status) {
        for (const auto& request : transferEvents.Requests())
            if (request.body.find("\"status\":\"" + status + "\"") != std::string::npos) return true;
        return false;
    }

    // Loopback hosts are reached directly, whatever proxy the machine running the tests is set up with.
    EnvironmentGuard noProxy{"http_proxy", ""};
    EnvironmentGuard noProxyUpper{"HTTP_PROXY", ""};
    TestHttpServer manifests;
    TestHttpServer mirror;
    TestHttpServer events;
    TestHttpServer transferEvents;
    TempDir data;
    TempDir dest;
    std::vector<PackageFile> files_;
};

TEST_F(TransferServiceTest, TheMonitorReportsReadyThenProgressThenCompleteForARealTransfer) {
    Publish(TwoFiles());
    HttpFault slow;
    slow.bytesPerSecond = 200000;
    mirror.SetFault(FilePath("run.exe"), slow);
    auto service = NewService();
    TransferMonitorImpl monitor(*service);
    RecordingMonitorCallback callback;
    std::optional<TransferStatus> started;
    callback.onReady = [&](const TransferStatus& status) {
        started = service->StartTransfer(status.transferId, dest.path().string());
        monitor.Register(status.transferId, &callback);
    };
    const TransferStatus created = service->CreateTransfer(kPartner, kPackage, "?");
    ASSERT_EQ(created.transferId.size(), 32u);
    EXPECT_EQ(created.state, TransferState::Initializing);
    monitor.Register(created.transferId, &callback);
    monitor.Start();
    ASSERT_TRUE(callback.WaitFor("complete", created.transferId));
    monitor.Stop();

    ASSERT_TRUE(started);
    EXPECT_EQ(started->state, TransferState::Transferring);
    std::vector<std::string> phases;
    for (const auto& report : callback.Reports()) {
        const std::string phase = report.kind + " " + std::to_string(int(report.status.state));
        if (phases.empty() || phases.back() != phase) phases.push_back(phase);
    }
    if (phases.front() == "progress 1") phases.erase(phases.begin());
    EXPECT_EQ(phases, (std::vector<std::string>{"ready 3", "progress 4", "complete 7"}));
    const TransferStatus complete = callback.Reports().back().status;
    EXPECT_EQ(complete.error, TransferError::None);
    EXPECT_EQ(complete.bytesVerified, complete.bytesTotal);
    EXPECT_EQ(complete.runPath, "run.exe");
    ExpectFilesMatch();
    const auto record = Record(created.transferId);
    ASSERT_TRUE(record) << "a completed transfer keeps its record";
    EXPECT_EQ(record->destPath, dest.path().string());
}

TEST_F(TransferServiceTest, ARetryableErrorIsReportedOnceAndEndsTheWatch) {
    Publish(TwoFiles());
    mirror.SetRefusingConnections(true);
    auto service = NewService();
    TransferMonitorImpl monitor(*service);
    RecordingMonitorCallback callback;
    callback.onReady = [&](const TransferStatus& status) {
        service->StartTransfer(status.transferId, dest.path().string());
        monitor.Register(status.transferId, &callback);
    };
    const std::string id = service->CreateTransfer(kPartner, kPackage, "?").transferId;
    monitor.Register(id, &callback);
    monitor.Start();
    ASSERT_TRUE(callback.WaitFor("error", id));
    const TransferStatus error = callback.Reports().back().status;
    EXPECT_EQ(error.state, TransferState::Transferring);
    EXPECT_EQ(error.error, TransferError::ConnectionError);
    EXPECT_TRUE(error.errorRetryable);
    const std::size_t reports = callback.Reports().size();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(callback.Reports().size(), reports) << "the transfer is no longer watched";
    EXPECT_EQ(service->GetTransferStatus(id).state, TransferState::Transferring);
}

TEST_F(TransferServiceTest, WithoutAnalyticsHostsATransferRunsItsWholeLifeWithoutAnEventManager) {
    Publish(TwoFiles());
    auto service = NewService(false);
    EXPECT_EQ(service->Behavior().eventManager, nullptr);
    const std::string id = service->CreateTransfer(kPartner, kPackage, "?").transferId;
    WaitForState(*service, id, TransferState::Initialized);
    service->StartTransfer(id, dest.path().string());
    WaitForState(*service, id, TransferState::Complete);
    ExpectFilesMatch();
    service.reset();
    EXPECT_EQ(events.RequestCount() + transferEvents.RequestCount(), 0u);
    EXPECT_NE(NewService()->Behavior().eventManager, nullptr);
}

TEST_F(TransferServiceTest, AnUnknownIdIsReportedCompleteWithAFreshStatus) {
    auto service = NewService();
    TransferMonitorImpl monitor(*service);
    RecordingMonitorCallback callback;
    monitor.Register("no-such-transfer", &callback);
    monitor.Start();
    ASSERT_TRUE(callback.WaitFor("complete", "no-such-transfer"));
    const TransferStatus status = callback.Reports().front().status;
    EXPECT_EQ(status.state, TransferState::Unknown);
    EXPECT_EQ(status.error, TransferError::None);
    EXPECT_EQ(status.partnerId, "?");
    EXPECT_EQ(status.destPath, "");
    EXPECT_EQ(status.secondsRemaining, -1);
}

TEST_F(TransferServiceTest, WithoutATransferTheOperationsAnswerTheirFallbackStatuses) {
    auto service = NewService();
    service->Transfers().Shutdown();
    const TransferStatus created = service->CreateTransfer(kPartner, kPackage, "?");
    EXPECT_EQ(created.transferId, "");
    for (const auto* field : {&created.partnerId, &created.packageId, &created.versionId, &created.destPath})
        EXPECT_EQ(*field, "?");
    EXPECT_EQ(created.state, TransferState::Unknown);
    EXPECT_EQ(created.error, TransferError::InternalError);
    EXPECT_EQ(created.bytesTotal, 0u);
    EXPECT_EQ(created.secondsRemaining, -1);
    const TransferStatus started = service->StartTransfer("abc", dest.path().string());
    EXPECT_EQ(started.transferId, "abc");
    EXPECT_EQ(started.packageId, "?");
    EXPECT_EQ(started.destPath, "");
    EXPECT_EQ(started.error, TransferError::None);
    EXPECT_EQ(started.state, TransferState::Unknown);
}

TEST_F(TransferServiceTest, ServiceGoesPromptlyMidTransferAndTheNextOneResumesFromTheRecord) {
    Publish(TwoFiles());
    HttpFault stall;
    stall.stallAfterBytes = 1000;
    stall.stall = 60s;
    mirror.SetFault(FilePath("run.exe"), stall);
    mirror.SetFault(FilePath("data/b.bin"), stall);
    std::string id;
    {
        auto service = NewService();
        id = service->CreateTransfer(kPartner, kPackage, "?").transferId;
        WaitForState(*service, id, TransferState::Initialized);
        EXPECT_EQ(service->StartTransfer(id, dest.path().string()).state, TransferState::Transferring);
        ASSERT_TRUE(mirror.WaitForRequestCount(1, 10s));
        std::this_thread::sleep_for(200ms);
        const auto before = std::chrono::steady_clock::now();
        service.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 5s) << "stalled requests held up the shutdown";
    }
    EXPECT_TRUE(SawTransferStatus("suspended"));
    EXPECT_FALSE(SawTransferStatus("canceled"));
    std::vector<std::string> stored;
    for (const auto& entry : fs::directory_iterator(data / "transfers"))
        stored.push_back(entry.path().filename());
    EXPECT_EQ(stored, std::vector<std::string>{id + ".json"});

    // A restart: the next service knows the transfer only from its record.
    mirror.ClearFaults();
    auto service = NewService();
    TransferStatus restored = service->GetTransferStatus(id);
    EXPECT_EQ(restored.state, TransferState::Initializing);
    EXPECT_EQ(restored.destPath, dest.path().string());
    EXPECT_EQ(restored.versionId, kVersion);
    EXPECT_EQ(restored.packageId, kPackage);
    service->Transfers().FindTransfer(id, service->Behavior())->Initialize();
    WaitForState(*service, id, TransferState::Initialized);
    EXPECT_EQ(service->StartTransfer(id, (dest / "elsewhere").string()).state, TransferState::Initialized)
        << "a restored transfer keeps its folder";
    EXPECT_EQ(service->StartTransfer(id, dest.path().string()).state, TransferState::Transferring);
    WaitForState(*service, id, TransferState::Complete);
    ExpectFilesMatch();
}

}  // namespace
}  // namespace qelt::test

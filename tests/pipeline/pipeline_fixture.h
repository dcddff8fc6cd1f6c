#pragma once

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "manifest/crc32.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_package_work.h"
#include "storage/shared_file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tests/support/test_package.h"
#include "tests/support/test_transfer.h"
#include "work/standard_workflow.h"

namespace qelt::test {

// A manifest host, download mirrors and a destination folder; runs whole transfer trees under a real workflow
// and pool, with a test work interface standing in for the transfer.
class PipelineFixture : public ::testing::Test {
protected:
    void TearDown() override { StopTree(); }

    // Serves the package manifest (current version) and a node list of the mirrors, and each file on every mirror.
    void Publish(const std::vector<PackageFile>& files, const std::string& run = "", std::size_t mirrorCount = 1) {
        files_ = files;
        manifests.AddFile(std::string("/manifests/") + kPackage + "/current.xml", PackageXml(files, run));
        SetNodeList(ServeOnMirrors(mirrors, files, mirrorCount));
    }

    void SetNodeList(const std::vector<std::string>& hosts) {
        manifests.AddFile(std::string("/nodes/") + kPartner + ".xml", NodeListXml(hosts));
    }

    TestTransferServices& Services() {
        if (!services_) services_ = std::make_unique<TestTransferServices>(HostOf(manifests), settings);
        return *services_;
    }

    // A new transfer of the published package into the destination folder.
    std::shared_ptr<TestTransferWorkInterface> NewInterface(const std::string& versionId = "?") {
        TransferParams params;
        params.transferId = "t1";
        params.partnerId = kPartner;
        params.packageId = kPackage;
        params.versionId = versionId;
        params.destPath = dest.path().string();
        return std::make_shared<TestTransferWorkInterface>(Services().Behavior(), params);
    }

    // Builds the whole tree for a new transfer and starts it.
    void StartTransfer(const std::string& versionId = "?") {
        StopTree();
        iface = NewInterface(versionId);
        root = std::make_shared<TransferPackageWork>(iface);
        workflow = StandardWorkflow::Create(root, &Services().workManager, settings.workflowParallelism);
        workflow->AddRetryableErrorCallback(iface.get());
        ASSERT_TRUE(workflow->Start());
    }

    // The root's final report, or a FatalError when none came in time.
    WorkStatus WaitForRoot(std::chrono::seconds timeout = std::chrono::seconds(10)) {
        const auto status = iface->WaitFor("complete", 1, timeout);
        if (!status) {
            std::string reports;
            for (const auto& report : iface->Reports())
                reports += report.milestone + " " + Describe(report.status);
            auto& standard = static_cast<StandardWorkflow&>(*workflow);
            ADD_FAILURE() << "the root never reported; workflow state " << static_cast<int>(workflow->GetState())
                          << ", " << standard.PendingCount() << " pending, " << standard.RunningCount()
                          << " running; reports: " << reports << "; chunk requests: " << ChunkRequestCount();
            return WorkStatus(WorkResult::FatalError);
        }
        return *status;
    }

    WorkStatus Transfer(const std::string& versionId = "?") {
        StartTransfer(versionId);
        return WaitForRoot();
    }

    // Stops the workflow and lets go of the tree, waiting until it is destroyed (its files then closed and
    // reported to the interface).
    void StopTree() {
        if (workflow && !workflow->IsFinished()) workflow->Cancel(WorkStatus(WorkResult::Cancelled));
        std::weak_ptr<Work> gone = root;
        workflow.reset();
        root.reset();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!gone.expired() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_TRUE(gone.expired()) << "the work tree was never released";
    }

    void ExpectFilesMatch() const { ExpectFilesIn(dest.path(), files_); }
    std::uint64_t TotalSize() const { return SizeOf(files_); }

    // A fresh file of `size` bytes opened and allocated as its file work would, for a transfer whose node list is
    // `hosts`; its one chunk [0, size - 1] mapped, expecting the checksum of `content`.
    std::shared_ptr<TransferSharedMapData> MapChunk(const std::vector<std::string>& hosts, const std::string& path,
                                                    const std::string& content) {
        iface = NewInterface(kVersion);
        iface->SetNodeList(ReadNodeList(hosts));
        const std::uint64_t size = content.size();
        auto fileData = std::make_shared<TransferSharedFileData>(path, size);
        fileData->file =
            Services().files.Open(dest.path().string(), path, SharedFileMode::OpenOrCreate, 0, size - 1);
        fileData->file->Allocate(size);
        auto mapData = std::make_shared<TransferSharedMapData>(fileData, 0, size - 1, Crc32(content),
                                                               iface->GetProgressUpdater());
        mapData->view = fileData->file->Map(0, size - 1);
        return mapData;
    }

    // The chunk requests a mirror received (manifest requests excluded).
    static std::vector<RecordedRequest> ChunkRequests(const TestHttpServer& server) {
        std::vector<RecordedRequest> chunks;
        for (auto& request : server.Requests())
            if (request.path.rfind("/packages/", 0) == 0) chunks.push_back(std::move(request));
        return chunks;
    }

    std::size_t ChunkRequestCount() const { return CountChunkRequests(mirrors); }

    TestHttpServer manifests;
    std::vector<std::unique_ptr<TestHttpServer>> mirrors;
    TempDir dest;
    TransferSettings settings = FastSettings();
    std::vector<PackageFile> files_;

private:
    std::unique_ptr<TestTransferServices> services_;

protected:
    std::shared_ptr<TestTransferWorkInterface> iface;
    std::shared_ptr<Work> root;
    std::shared_ptr<Workflow> workflow;
};

}  // namespace qelt::test

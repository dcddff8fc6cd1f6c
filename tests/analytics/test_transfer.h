#pragma once

#include <boost/property_tree/ptree.hpp>
#include <memory>
#include <string>
#include <vector>

#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "selection/node_statistics.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_status_impl.h"
#include "transfer/transfer_work.h"

namespace qelt::test {

// The work interface of a transfer as events see it: parameters, behaviour, node list and a real status object on
// a hand-driven millisecond clock. The milestone callbacks are not needed by events and answer null.
class TestTransfer : public TransferWorkInterface {
public:
    TestTransfer() : status(std::make_shared<TransferStatusImpl>(&params, 10, 500, [this] { return nowMs; })) {
        params.transferId = "tr/1";
        params.partnerId = "p1";
        params.packageId = "k1";
        params.versionId = "v1";
        params.destPath = "/dest";
    }

    TransferParams GetParams() override { return params; }
    const TransferParams* Params() override { return &params; }
    TransferBehavior* GetBehavior() override { return &behavior; }
    std::shared_ptr<PackageManifest> GetPackage() override { return nullptr; }
    std::shared_ptr<NodeListManifest> GetNodeList() override { return nodeList; }
    std::shared_ptr<TransferProgressUpdater> GetProgressUpdater() override { return status; }
    WorkCompleteCallback* GetCompleteCallback() override { return nullptr; }
    WorkCompleteCallback* GetPackageCallback() override { return nullptr; }
    WorkCompleteCallback* GetNodeListCallback() override { return nullptr; }
    WorkCompleteCallback* GetInitializeCallback() override { return nullptr; }
    WorkflowRetryableErrorCallback* GetRetryableErrorCallback() override { return nullptr; }
    void RegisterCreatedFile(const std::string&) override {}

    // A node list read from NodeInfo elements with these hosts.
    void SetNodes(const std::vector<std::string>& hosts) {
        ptree document;
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            ptree info;
            info.put("NodeId", "n" + std::to_string(i));
            info.put("Host", hosts[i]);
            document.add_child("ArrayOfNodeInfo.NodeInfo", info);
        }
        auto list = std::make_shared<StandardNodeListManifest>();
        list->Deserialize(document);
        nodeList = list;
    }
    NodeStatistics& Node(std::size_t i) { return *nodeList->GetNodes().at(i)->GetStatistics(); }

    // Counts `bytes` downloaded over `ms` of active time, as the status polls of a running transfer do.
    void Transfer(std::uint64_t bytes, std::uint32_t ms) {
        const auto saved = status->Record().state;
        status->Record().state = TransferState::Transferring;
        TransferStatus out;
        status->GetStatus(out);
        status->AddDownloaded(bytes);
        nowMs += ms;
        status->GetStatus(out);
        status->Record().state = saved;
    }

    TransferParams params;
    TransferBehavior behavior;
    std::shared_ptr<NodeListManifest> nodeList;
    std::uint32_t nowMs = 1000;
    std::shared_ptr<TransferStatusImpl> status;
};

}  // namespace qelt::test

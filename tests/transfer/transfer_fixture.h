#pragma once

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/json_http_analytics_manager.h"
#include "analytics/json_work_log_manager.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tests/support/test_package.h"
#include "tests/support/test_transfer.h"
#include "transfer/standard_transfer.h"
#include "transfer/transfer_workflow_factory.h"

namespace qelt::test {

// Occupies every thread of a work manager until released, so that the works an operation posts wait: a test can
// then see the operation's event arrive before anything the operation set running has happened.
class PoolGate {
public:
    explicit PoolGate(AsioWorkManager& pool);
    ~PoolGate() { Release(); }
    PoolGate(const PoolGate&) = delete;
    PoolGate& operator=(const PoolGate&) = delete;

    void Release();

private:
    class BlockingWork;

    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned started_ = 0;
    unsigned exited_ = 0;
    bool released_ = false;
};

struct LogEntry {
    std::string event;
    boost::property_tree::ptree params;
};

// Transfers of a published package, built with the real workflow factory on real services: a loopback manifest
// host and mirrors, two loopback analytics hosts (events and transfers) behind the real analytics manager, and a
// real work log writing into a folder of the test.
class TransferFixture : public ::testing::Test {
protected:
    TransferFixture();
    ~TransferFixture() override;
    void TearDown() override { Drain(); }

    // Serves the package manifest (current version), a node list of the mirrors, and each file on every mirror.
    void Publish(const std::vector<PackageFile>& files, const std::string& run = "", std::size_t mirrorCount = 1);

    TransferParams Params() const;
    // The environment of a transfer on this fixture's services (built on first use, from `settings`).
    TransferBehavior Behavior();
    // A new transfer, kept by the fixture until Drain.
    std::shared_ptr<StandardTransfer> NewTransfer(const TransferParams& params);
    std::shared_ptr<StandardTransfer> NewTransfer(const TransferParams& params, const TransferBehavior& behavior);
    AsioWorkManager& Pool();
    TransferWorkflowFactory* Factory() { return &factory_; }

    // Polls Update as the monitor would until the transfer is in `state` (and then has no error unless
    // `error` says which); fails the test after the timeout.
    TransferStatus WaitForState(Transfer& transfer, TransferState state, TransferError error = TransferError::None,
                                std::chrono::seconds timeout = std::chrono::seconds(20));
    // Until the work tree of the transfer's current interface is gone (its files then reported).
    void WaitForTreeReleased(Transfer& transfer);
    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Destroys every transfer and then the services, delivering every pending post and log entry.
    void Drain();

    // Bodies in arrival order.
    std::vector<std::string> EventBodies() const { return Bodies(events); }
    std::vector<std::string> TransferBodies() const { return Bodies(transfers); }
    // Channel-1 bodies counting `counter` ("numStarts", ...).
    std::size_t CountOf(const std::string& counter) const;
    // Every entry of the work log, in file order.
    std::vector<LogEntry> LogEntries() const;

    std::uint64_t TotalSize() const;
    void ExpectFilesMatch() const;
    std::size_t ChunkRequestCount() const;

    static std::vector<std::string> Bodies(const TestHttpServer& server);

    TestHttpServer manifests;
    TestHttpServer events;
    TestHttpServer transfers;
    std::vector<std::unique_ptr<TestHttpServer>> mirrors;
    TempDir dest;
    TempDir logs;
    TransferSettings settings = FastSettings();
    std::vector<PackageFile> files_;

private:
    struct Services;
    std::unique_ptr<Services> services_;
    StandardTransferWorkflowFactory factory_;
    std::vector<std::shared_ptr<StandardTransfer>> live_;
};

}  // namespace qelt::test

#include "tests/transfer/transfer_fixture.h"

#include <boost/property_tree/json_parser.hpp>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

namespace qelt::test {

class PoolGate::BlockingWork : public SimpleWork {
public:
    explicit BlockingWork(PoolGate& gate) : gate_(gate) {}
    WorkStatus ExecuteTask() override {
        std::unique_lock lock(gate_.mutex_);
        ++gate_.started_;
        gate_.changed_.notify_all();
        gate_.changed_.wait(lock, [this] { return gate_.released_; });
        ++gate_.exited_;
        gate_.changed_.notify_all();
        return WorkStatus(WorkResult::Success);
    }
    void Cancel() override {}

private:
    PoolGate& gate_;
};

PoolGate::PoolGate(AsioWorkManager& pool) {
    for (unsigned i = 0; i < pool.ThreadCount(); ++i)
        pool.PostWork(std::make_shared<BlockingWork>(*this));
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_ == pool.ThreadCount(); });
}

void PoolGate::Release() {
    std::unique_lock lock(mutex_);
    released_ = true;
    changed_.notify_all();
    // The blocking works refer to this gate: it may only go once every one of them has left it.
    changed_.wait(lock, [this] { return exited_ == started_; });
}

struct TransferFixture::Services {
    explicit Services(const TransferFixture& fixture)
        : analytics(&requests, &sessions, fixture.settings, HostOf(fixture.events), HostOf(fixture.transfers)),
          log(fixture.settings.logLevel, fixture.logs.path().string(), &logFiles),
          transfer(HostOf(fixture.manifests), fixture.settings) {}

    // Destroyed from the bottom up: the transfer pool stops first, then the log and the analytics deliver what
    // is left.
    EmptyHttpProxyFactory proxies;
    CurlHttpRequestFactory requests{&proxies};
    RoundRobinHttpSessionFactory sessions;
    JsonHttpAnalyticsManager analytics;
    PosixSharedFileFactory logFiles;
    JsonWorkLogManager log;
    TestTransferServices transfer;
};

TransferFixture::TransferFixture() = default;
TransferFixture::~TransferFixture() = default;

void TransferFixture::Publish(const std::vector<PackageFile>& files, const std::string& run,
                              std::size_t mirrorCount) {
    files_ = files;
    // Current for a new transfer, by its version for a run that knows it (after a suspension).
    manifests.AddFile(std::string("/manifests/") + kPackage + "/current.xml", PackageXml(files, run));
    manifests.AddFile(std::string("/manifests/") + kPackage + "/" + kVersion + ".xml", PackageXml(files, run));
    const std::vector<std::string> hosts = ServeOnMirrors(mirrors, files, mirrorCount);
    manifests.AddFile(std::string("/nodes/") + kPartner + ".xml", NodeListXml(hosts));
}

TransferParams TransferFixture::Params() const {
    TransferParams params;
    params.transferId = "t1";
    params.partnerId = kPartner;
    params.packageId = kPackage;
    return params;
}

TransferBehavior TransferFixture::Behavior() {
    if (!services_) services_ = std::make_unique<Services>(*this);
    TransferBehavior behavior = services_->transfer.Behavior();
    behavior.eventManager = &services_->analytics;
    behavior.workLogManager = &services_->log;
    return behavior;
}

AsioWorkManager& TransferFixture::Pool() {
    Behavior();
    return services_->transfer.workManager;
}

std::shared_ptr<StandardTransfer> TransferFixture::NewTransfer(const TransferParams& params) {
    return NewTransfer(params, Behavior());
}

std::shared_ptr<StandardTransfer> TransferFixture::NewTransfer(const TransferParams& params,
                                                               const TransferBehavior& behavior) {
    live_.push_back(std::make_shared<StandardTransfer>(params, behavior, &factory_));
    return live_.back();
}

bool TransferFixture::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TransferStatus TransferFixture::WaitForState(Transfer& transfer, TransferState state, TransferError error,
                                             std::chrono::seconds timeout) {
    TransferStatus status;
    const bool reached = WaitUntil(
        [&] {
            status = transfer.Update();
            return status.state == state && status.error == error;
        },
        timeout);
    EXPECT_TRUE(reached) << "expected state " << int(state) << " error " << int(error) << ", still in state "
                         << int(status.state) << " error " << int(status.error) << " retryable "
                         << status.errorRetryable;
    return status;
}

void TransferFixture::WaitForTreeReleased(Transfer& transfer) {
    const auto iface = transfer.GetWorkInterface();
    // Held by the transfer and by this function once no work holds it.
    EXPECT_TRUE(WaitUntil([&] { return iface.use_count() <= 2; })) << "the work tree was never released";
}

void TransferFixture::Drain() {
    live_.clear();
    services_.reset();
}

std::vector<std::string> TransferFixture::Bodies(const TestHttpServer& server) {
    std::vector<std::string> bodies;
    for (const auto& request : server.Requests())
        bodies.push_back(request.body);
    return bodies;
}

std::size_t TransferFixture::CountOf(const std::string& counter) const {
    const std::string metric = "\"" + counter + "\":\"1\"";
    std::size_t count = 0;
    for (const auto& body : EventBodies())
        count += body.find(metric) != std::string::npos ? 1 : 0;
    return count;
}

std::vector<LogEntry> TransferFixture::LogEntries() const {
    std::set<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(logs.path()))
        files.insert(entry.path());
    std::vector<LogEntry> entries;
    for (const auto& file : files) {
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) {
            const auto json = line.find("] {");
            if (json == std::string::npos) continue;
            std::istringstream text(line.substr(json + 2));
            boost::property_tree::ptree tree;
            boost::property_tree::read_json(text, tree);
            entries.push_back({tree.get("event", ""), tree.get_child("params", {})});
        }
    }
    return entries;
}

std::uint64_t TransferFixture::TotalSize() const {
    return SizeOf(files_);
}

void TransferFixture::ExpectFilesMatch() const {
    ExpectFilesIn(dest.path(), files_);
}

std::size_t TransferFixture::ChunkRequestCount() const {
    return CountChunkRequests(mirrors);
}

}  // namespace qelt::test

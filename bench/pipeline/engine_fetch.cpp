#include "bench/pipeline/engine_fetch.h"

#include <chrono>
#include <memory>
#include <thread>

#include "app/launch_options.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_package_work.h"
#include "tests/support/test_transfer.h"
#include "work/standard_workflow.h"

namespace qelt::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kFetchLimit = std::chrono::seconds(120);

std::string Explain(const WorkStatus& status) {
    std::string text = "result " + std::to_string(static_cast<int>(status.result));
    if (auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data))
        text += ", transfer error " + std::to_string(static_cast<int>(data->ToTransferError()));
    return text;
}

// Waits for the root's report; a retryable error pauses the workflow instead, and the transfer behind this
// interface would then decide, so that ends the wait as well.
std::optional<WorkStatus> WaitForOutcome(const test::TestTransferWorkInterface& iface, std::string& failure) {
    const auto deadline = Clock::now() + kFetchLimit;
    while (Clock::now() < deadline) {
        if (auto status = iface.WaitFor("complete", 1, std::chrono::milliseconds(50))) return status;
        if (auto error = iface.WaitFor("retryableError", 1, std::chrono::milliseconds(0))) {
            failure = "the workflow paused on a retryable error: " + Explain(*error);
            return std::nullopt;
        }
    }
    failure = "no outcome within " + std::to_string(kFetchLimit.count()) + " s";
    return std::nullopt;
}

}  // namespace

TransferSettings DefaultSettings() {
    TransferSettings settings;
    ApplyLaunchOptions(settings, LaunchOptions{});
    return settings;
}

EngineFetch FetchWithEngine(const std::string& manifestHost, const std::filesystem::path& destination) {
    const TransferSettings settings = DefaultSettings();
    test::TestTransferServices services(manifestHost, settings, settings.transferThreads);

    TransferParams params;
    params.transferId = "bench";
    params.partnerId = kPartnerId;
    params.packageId = kPackageId;
    params.destPath = destination.string();
    auto iface = std::make_shared<test::TestTransferWorkInterface>(services.Behavior(), params);

    EngineFetch fetch;
    ResetPeakResident();
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    {
        auto root = std::make_shared<TransferPackageWork>(iface);
        auto workflow = StandardWorkflow::Create(root, &services.workManager, settings.workflowParallelism);
        workflow->AddRetryableErrorCallback(iface.get());
        if (!workflow->Start()) fetch.failure = "the workflow did not start";
        if (auto status = WaitForOutcome(*iface, fetch.failure)) {
            fetch.result = status->result;
            if (status->result != WorkResult::Success) fetch.failure = "the root reported " + Explain(*status);
        }
        if (!workflow->IsFinished()) workflow->Cancel(WorkStatus(WorkResult::Cancelled));

        // The tree closes its files as it goes away, which is part of the fetch.
        std::weak_ptr<Work> gone = root;
        workflow.reset();
        root.reset();
        while (!gone.expired() && Clock::now() - start < kFetchLimit)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (!gone.expired() && fetch.failure.empty()) fetch.failure = "the work tree was never released";
    }
    fetch.usage.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    fetch.usage.cpuSeconds = ProcessCpuSeconds() - cpuBefore;
    fetch.usage.peakKiB = PeakResidentKiB();
    fetch.status = iface->Status();
    return fetch;
}

}  // namespace qelt::bench

#pragma once

#include <memory>
#include <mutex>

#include "pipeline/optimized_request_params.h"
#include "transfer/transfer_work.h"
#include "work/limited_retry_simple_work.h"

namespace qelt {

class HttpRequest;
class HttpSession;
class HttpTransferStatusData;
class TransferSharedMapData;

// Fetches a chunk's byte range into its mapped view from a node the optimizer chooses, retrying in place on
// another node while its budget lasts. A time-out under limits that may still grow, and a failed request that
// explored an unknown node, retry without using the budget.
//
// Every attempt, failed or not, is recorded in the node's statistics; the optimizer hears of failed attempts at
// once and of a successful one only when the following verification has judged the bytes (ReportVerification),
// so a node that serves corrupted bytes quickly is learnt as failing, not as fast.
//
// Threads: ExecuteTask runs on a pool thread; Cancel comes from the workflow's thread while it runs and aborts
// the request in flight without waiting for it.
class OptimizedRequestChunkWork : public TransferWork, public LimitedRetrySimpleWork {
public:
    OptimizedRequestChunkWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                              std::shared_ptr<TransferSharedMapData> mapData, unsigned maxRetries);

    void Describe(ptree& out) const override;
    // At once when the last attempt earned a free retry, else within the budget.
    bool CanRetry() override;
    WorkStatus ExecuteTask() override;
    void Cancel() override;

    // Called by the verification after a successful download: tells the optimizer how the request went, as a
    // success when the bytes were intact and as a failure of the serving host when they were not. Does nothing
    // when no download is waiting for its verdict.
    void ReportVerification(bool intact);

    // The request parameters, for tests and the log; touched only between attempts.
    // The parameters of the request made last; only valid once the work has run and until its download verified.
    const OptimizedRequestParams& RequestParams() const { return *params_; }

private:
    void StoreRequest(std::shared_ptr<HttpRequest> request);

    const std::shared_ptr<HttpSession> session_;
    const std::shared_ptr<TransferSharedMapData> mapData_;
    // Built when the work first runs and dropped once its download verified: a transfer holds the works of every
    // chunk of its files at once, and a copy of the transfer's identifiers and node list in each would cost
    // hundreds of bytes per chunk that has not asked anything yet or never will again.
    std::unique_ptr<OptimizedRequestParams> params_;
    // Guards request_ and unverified_.
    std::mutex mutex_;
    std::shared_ptr<HttpRequest> request_;
    // The outcome of the last successful attempt until the verification reports on its bytes.
    std::shared_ptr<HttpTransferStatusData> unverified_;
};

}  // namespace qelt

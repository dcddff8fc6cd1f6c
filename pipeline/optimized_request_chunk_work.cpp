#include "pipeline/optimized_request_chunk_work.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <exception>
#include <limits>
#include <new>

#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "manifest/node_manifest.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_http_writer.h"
#include "pipeline/transfer_single_chunk_work.h"
#include "pipeline/transfer_work_wiring.h"
#include "selection/node_statistics.h"
#include "selection/transfer_optimizer.h"
#include "transfer/transfer_behavior.h"

namespace qelt {
namespace {

const char kNoSharedMap[] = "OptimizedRequestChunkWork::ExecuteTask has no shared map";

// A request that never ran because no request could be made for the chosen node: an attempt that failed with
// `state`, so the node is recorded as failing and the next attempt goes elsewhere.
HttpRequestStatus UnperformedRequest(HttpRequestResult state) {
    HttpRequestStatus status;
    status.State = state;
    try {
        throw;
    } catch (const std::exception& e) {
        status.Message = e.what();
    } catch (...) {
    }
    return status;
}

// The measured time, except that a request cannot have taken longer than its limits allowed: a clock that jumped
// or a thread that was not scheduled must not teach the statistics a speed the node never had.
std::int32_t RequestTimeMs(std::uint32_t elapsedMs, const HttpRequestParams& http) {
    const std::int64_t ms = elapsedMs;
    const std::int64_t limitSeconds = std::int64_t{http.ConnectTimeout} + http.Timeout;
    const std::int64_t time = ms / 1000 > limitSeconds ? limitSeconds * 1000 : ms;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(time, 0, std::numeric_limits<std::int32_t>::max()));
}

WorkResult ResultOf(HttpRequestResult state) {
    switch (state) {
        case HttpRequestResult::Succeeded:
            return WorkResult::Success;
        case HttpRequestResult::Cancelled:
            return WorkResult::Cancelled;
        case HttpRequestResult::Idle:
        case HttpRequestResult::Running:
        case HttpRequestResult::OutOfMemory:
            return WorkResult::FatalError;
        default:
            return WorkResult::RetryableError;
    }
}

}  // namespace

OptimizedRequestChunkWork::OptimizedRequestChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                                     std::shared_ptr<HttpSession> session,
                                                     std::shared_ptr<TransferSharedMapData> mapData,
                                                     unsigned maxRetries)
    : TransferWork(std::move(iface)),
      LimitedRetrySimpleWork(maxRetries),
      session_(std::move(session)),
      mapData_(std::move(mapData)) {
    RegisterRetryingTransferObservers(*this, *iface_);
}

void OptimizedRequestChunkWork::Describe(ptree& out) const {
    DescribeTransferWork(out, "OptimizedRequestChunkWork", false, *iface_);
    mapData_->Describe(out);
}

bool OptimizedRequestChunkWork::CanRetry() {
    return (params_ && params_->freeRetry) || LimitedRetrySimpleWork::CanRetry();
}

void OptimizedRequestChunkWork::StoreRequest(std::shared_ptr<HttpRequest> request) {
    std::lock_guard lock(mutex_);
    request_ = std::move(request);
}

void OptimizedRequestChunkWork::Cancel() {
    // The copy keeps a pooled request out of its pool until it is cancelled, so a late Cancel can never reach a
    // request another chunk has taken over meanwhile.
    std::shared_ptr<HttpRequest> request;
    {
        std::lock_guard lock(mutex_);
        request = request_;
    }
    if (request) request->Cancel();
}

WorkStatus OptimizedRequestChunkWork::ExecuteTask() {
    if (!mapData_->view) {
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferErrorData>(TransferError::InternalError, kNoSharedMap));
    }
    // Before anything can be written: from here the range no longer holds what the file was opened with.
    mapData_->downloadStarted = true;
    try {
        TransferBehavior& behavior = *iface_->GetBehavior();
        if (!params_)
            params_ = std::make_unique<OptimizedRequestParams>(iface_->GetNodeList(), *iface_->Params(), mapData_);
        OptimizedRequestParams& params = *params_;
        behavior.transferOptimizer->GetNode(params);

        TransferHttpWriter writer(mapData_);
        HttpRequestStatus status;
        std::int32_t requestTimeMs = 0;
        std::shared_ptr<HttpRequest> request;
        std::unique_ptr<HttpRequestParams> http;
        try {
            http = std::make_unique<HttpRequestParams>(params.ToHttpRequestParams(&writer));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            // No node chosen: the optimizer broke its contract, and there is no node to blame for it.
            if (!params.SelectedNode) throw;
            // A host a node list can carry but a URL cannot hold ("host:abc"): this node cannot be asked.
            status = UnperformedRequest(HttpRequestResult::BadUrl);
        }
        if (http) {
            try {
                request = behavior.httpRequestFactory->CreateRequest(*http, session_);
            } catch (const std::bad_alloc&) {
                throw;
            } catch (...) {
                status = UnperformedRequest(HttpRequestResult::OtherError);
            }
        }

        // Every attempt writes the chunk from its first byte and counts it from zero.
        DiscardChunk(*mapData_);
        if (request) {
            StoreRequest(request);
            if (IsCancelRequested()) request->Cancel();
            const std::uint32_t start = behavior.clock();
            status = request->Perform();
            requestTimeMs = RequestTimeMs(behavior.clock() - start, *http);
        }

        const auto& node = *params.SelectedNode;
        auto statusData = std::make_shared<HttpTransferStatusData>(node.GetHost(), status, requestTimeMs);
        const WorkResult result = ResultOf(status.State);
        if (auto statistics = node.GetStatistics()) {
            statistics->RecordRequest(status.BytesReceived, static_cast<std::uint32_t>(requestTimeMs),
                                      IsHttpError(status.State));
        }
        {
            std::lock_guard lock(mutex_);
            unverified_ = result == WorkResult::Success ? statusData : nullptr;
        }
        if (result == WorkResult::RetryableError)
            behavior.transferOptimizer->OnRequestComplete(params, *statusData);
        if (result != WorkResult::Cancelled) params.ExcludeSelectedNode();
        if (status.State == HttpRequestResult::TimedOut && params.timeoutsCanGrow) params.freeRetry = true;
        StoreRequest(nullptr);
        return WorkStatus(result, std::move(statusData));
    } catch (const std::bad_alloc&) {
        StoreRequest(nullptr);
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::MemoryError));
    } catch (...) {
        StoreRequest(nullptr);
        return WorkStatus(WorkResult::FatalError,
                          std::make_shared<TransferExceptionData>(TransferError::InternalError));
    }
}

void OptimizedRequestChunkWork::ReportVerification(bool intact) {
    std::shared_ptr<HttpTransferStatusData> report;
    {
        std::lock_guard lock(mutex_);
        report.swap(unverified_);
    }
    if (!report || !params_) return;
    TransferOptimizer& optimizer = *iface_->GetBehavior()->transferOptimizer;
    if (intact) {
        optimizer.OnRequestComplete(*params_, *report);
        // The chunk is done: nothing reads the candidates or the limits again unless the work is reset and run
        // anew, which builds them afresh.
        params_.reset();
    } else {
        optimizer.OnChecksumFailure(*params_, *report);
    }
}

}  // namespace qelt

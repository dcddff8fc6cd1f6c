#include "analytics/json_http_analytics_manager.h"

#include "analytics/json_writer.h"
#include "app/transfer_settings.h"
#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"

namespace qelt {
namespace {

constexpr unsigned kAnalyticsThreads = 3;

// The answer of an analytics host is of no interest; discarding it keeps a host that answers with an endless
// body from filling memory for the length of the time-out.
class DiscardingWriter : public HttpWriteCallback {
public:
    HttpRequestStatus Write(const char*, std::size_t length) override {
        HttpRequestStatus status;
        status.State = HttpRequestResult::Succeeded;
        status.BytesReceived = length;
        return status;
    }
};

}  // namespace

JsonHttpAnalyticsEventWork::JsonHttpAnalyticsEventWork(int channel, std::string url, HttpRequestFactory* requests,
                                                       std::shared_ptr<HttpSession> session,
                                                       std::int32_t connectTimeout, std::int32_t timeout,
                                                       std::int32_t retries)
    : TrackEventWork(channel),
      url_(std::move(url)),
      requests_(requests),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      retries_(retries) {}

WorkStatus JsonHttpAnalyticsEventWork::ExecuteTask() {
    std::string body;
    try {
        body = ToJsonText(Tree());
    } catch (...) {
        return WorkStatus(WorkResult::FatalError);
    }
    try {
        DiscardingWriter writer;
        HttpRequestParams params(url_, &writer);
        params.Method = 1;
        params.ContentType = "application/json";
        params.Body = std::move(body);
        params.ConnectTimeout = connectTimeout_;
        params.Timeout = timeout_;
        const auto request = requests_->CreateRequest(params, session_);
        switch (request->Perform().State) {
            case HttpRequestResult::Succeeded:
                return WorkStatus(WorkResult::Success);
            case HttpRequestResult::ConnectFailed:
            case HttpRequestResult::HttpServerError:
                return WorkStatus(WorkResult::RetryableError);
            default:
                return WorkStatus(WorkResult::FatalError);
        }
    } catch (...) {
        return WorkStatus(WorkResult::FatalError, std::make_shared<WorkExceptionData>(std::current_exception()));
    }
}

bool JsonHttpAnalyticsEventWork::CanRetry() {
    std::int32_t used = retriesUsed_.load(std::memory_order_relaxed);
    while (used < retries_) {
        if (retriesUsed_.compare_exchange_weak(used, used + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

void JsonHttpAnalyticsEventWork::Reset() {
    TrackEventWork::Reset();
    retriesUsed_.store(0, std::memory_order_relaxed);
}

JsonHttpAnalyticsManager::JsonHttpAnalyticsManager(HttpRequestFactory* requests, HttpSessionFactory* sessions,
                                                   const TransferSettings& settings, std::string eventsHost,
                                                   std::string transferHost)
    : AnalyticsManager(kAnalyticsThreads),
      requests_(requests),
      session_(sessions ? sessions->Create() : nullptr),
      eventsUrl_("http://" + eventsHost),
      transferUrl_("http://" + transferHost),
      connectTimeout_(settings.analyticsConnectTimeout),
      timeout_(settings.analyticsTimeout),
      retries_(settings.analyticsRetries) {}

JsonHttpAnalyticsManager::~JsonHttpAnalyticsManager() {
    Drain();
}

std::shared_ptr<TrackEventWork> JsonHttpAnalyticsManager::CreateWork(int channel) {
    return std::make_shared<JsonHttpAnalyticsEventWork>(
        channel, channel == kAnalyticsTransferChannel ? transferUrl_ : eventsUrl_, requests_, session_,
        connectTimeout_, timeout_, retries_);
}

}  // namespace qelt

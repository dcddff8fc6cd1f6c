#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "analytics/event_manager.h"

namespace qelt {

class HttpRequestFactory;
class HttpSession;
class HttpSessionFactory;
struct TransferSettings;

// POSTs its JSON tree to one analytics URL. A post that could not connect or got a 5xx answer is sent again at
// once while the retry budget lasts (CanRetry); every other outcome is final. No status carries data.
class JsonHttpAnalyticsEventWork : public TrackEventWork {
public:
    JsonHttpAnalyticsEventWork(int channel, std::string url, HttpRequestFactory* requests,
                               std::shared_ptr<HttpSession> session, std::int32_t connectTimeout,
                               std::int32_t timeout, std::int32_t retries);

    WorkStatus ExecuteTask() override;
    // True, consuming one retry, while retries are left.
    bool CanRetry() override;
    // Clears the cancel flag and restores the retry budget.
    void Reset() override;

    const std::string& Url() const { return url_; }

private:
    const std::string url_;
    HttpRequestFactory* const requests_;
    const std::shared_ptr<HttpSession> session_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
    const std::int32_t retries_;
    std::atomic<std::int32_t> retriesUsed_{0};
};

// Delivers analytics records as JSON over HTTP on three threads of its own: channel 32 to the transfer analytics
// host, every other channel to the analytics events host. The hosts are plain host names (optionally with a
// port) reached over HTTP at the root path. One session, made at construction, is shared by every post.
//
// The request factory must outlive the manager. Destruction waits until every submitted post has ended (each
// within its time limits), so events raised at shutdown are still delivered.
class JsonHttpAnalyticsManager final : public AnalyticsManager {
public:
    // Takes the time limits and retry budget from `settings` (analyticsConnectTimeout, analyticsTimeout,
    // analyticsRetries).
    JsonHttpAnalyticsManager(HttpRequestFactory* requests, HttpSessionFactory* sessions,
                             const TransferSettings& settings, std::string eventsHost, std::string transferHost);
    ~JsonHttpAnalyticsManager() override;

    std::shared_ptr<TrackEventWork> CreateWork(int channel) override;

private:
    HttpRequestFactory* const requests_;
    const std::shared_ptr<HttpSession> session_;
    const std::string eventsUrl_;
    const std::string transferUrl_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
    const std::int32_t retries_;
};

}  // namespace qelt

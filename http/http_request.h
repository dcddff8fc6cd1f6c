#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <limits>
#include <string>
#include <utility>

namespace qelt {

class HttpWriteCallback;

// The user agent sent with every request and used by proxy discovery.
inline constexpr char kHttpUserAgent[] = "Orvane Quorvel TransferService 0.9";

// The range end that means "to the end of the resource".
inline constexpr std::uint64_t kHttpRangeEndOfResource = std::numeric_limits<std::uint64_t>::max();

// What one request should do. Copied deeply whenever a request takes it; the writer is not owned and must outlive
// every Perform of a request holding these params.
struct HttpRequestParams {
    HttpRequestParams(std::string url, HttpWriteCallback* writer);

    std::string Url;
    HttpWriteCallback* Writer;
    int Method = 0;                                                 // 0 = GET, 1 = POST
    std::string Body;                                               // sent only by a POST
    std::string ContentType = "application/x-www-form-urlencoded";  // sent only by a POST
    std::string AcceptEncoding;                                     // offered only for whole-resource requests
    std::uint64_t RangeStart = 0;
    std::uint64_t RangeEnd = kHttpRangeEndOfResource;  // inclusive
    std::int32_t ConnectTimeout = 5;                   // seconds
    std::int32_t Timeout = 0;                          // seconds for the whole request; 0 = none
    std::int32_t LowSpeedLimit = 0;                    // bytes per second; takes effect only with LowSpeedTime > 0
    std::int32_t LowSpeedTime = 0;                     // seconds; takes effect only with LowSpeedLimit > 0
    std::string UserAgent = kHttpUserAgent;

    bool IsWholeResource() const { return RangeStart == 0 && RangeEnd == kHttpRangeEndOfResource; }
};

// Progress or outcome of a request. Other components compare the numbers; every value from 4 on is an error.
enum class HttpRequestResult : std::uint8_t {
    Idle = 0,               // new or re-armed, not yet performed
    Running = 1,            // Perform in progress
    Succeeded = 2,          // transfer complete
    Cancelled = 3,          // Cancel while idle or running
    BadUrl = 4,             // unsupported protocol, malformed URL
    ResolveFailed = 5,      // proxy or host name not resolved
    ConnectFailed = 6,      // no connection to the host or proxy
    HttpClientError = 7,    // HTTP status below 500 (404, 416 ...)
    HttpServerError = 8,    // HTTP status 500 or above
    SendReceiveFailed = 9,  // the connection failed while sending or receiving
    WriteFailed = 10,       // the writer refused data
    RangeFailed = 11,       // partial file, range error, or the writer found the range wrong
    TimedOut = 12,          // a time limit was reached
    OutOfMemory = 13,       // an allocation failed
    OtherError = 14,        // anything else (too many redirects ...)
};

// True for the states that mean the request failed.
inline bool IsHttpError(HttpRequestResult state) {
    return static_cast<std::uint8_t>(state) >= 4;
}

// The enumerator's name ("TimedOut"), for logs and test output.
const char* HttpRequestResultName(HttpRequestResult state);
std::ostream& operator<<(std::ostream& out, HttpRequestResult state);

struct HttpRequestStatus {
    HttpRequestResult State = HttpRequestResult::Idle;
    std::uint64_t BytesReceived = 0;  // bytes the writer accepted (for a writer's answer: from this block)
    std::int32_t ResponseCode = 0;    // last HTTP status; 0 if none
    std::string PrimaryIp;            // numeric address last connected to; "" if unknown
    std::string Message;              // error text; "" on success
};

// Receives a response body block by block, on the thread performing the request. Only State, BytesReceived and
// Message of the answer are read. A State other than Succeeded stops the transfer: RangeFailed and OutOfMemory are
// carried into the request as they are, every other state becomes WriteFailed. Write must not throw; if it does,
// the request ends in WriteFailed (OutOfMemory for std::bad_alloc).
class HttpWriteCallback {
public:
    virtual ~HttpWriteCallback() = default;
    virtual HttpRequestStatus Write(const char* data, std::size_t length) = 0;
};

// Appends the body to a string stream it does not own.
class HttpStringstreamWriter : public HttpWriteCallback {
public:
    explicit HttpStringstreamWriter(std::ostream& stream) : stream_(stream) {}
    HttpRequestStatus Write(const char* data, std::size_t length) override;

private:
    std::ostream& stream_;
};

// One HTTP GET or POST, reusable through Reset. Holds a private copy of its params and its proxy string ("" =
// connect directly, whatever the environment says).
//
// Perform runs on the caller's thread; GetStatus and Cancel may be called from any thread meanwhile. Two threads
// must not Perform the same request; a second concurrent Perform finds the request not Idle and returns at once.
class HttpRequest {
public:
    HttpRequest(const HttpRequestParams& params, std::string proxy) : params_(params), proxy_(std::move(proxy)) {}
    virtual ~HttpRequest() = default;
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // Performs the request if it is Idle and returns the status; otherwise only returns the status.
    virtual HttpRequestStatus Perform() = 0;
    virtual HttpRequestStatus GetStatus() = 0;
    // Moves an Idle or Running request to Cancelled; a running transfer stops at its next callback.
    virtual void Cancel() = 0;
    // Re-arms a request that is not running with new params and proxy; false (and nothing changed) while running.
    virtual bool Reset(const HttpRequestParams& params, const std::string& proxy) = 0;

protected:
    HttpRequestParams params_;
    std::string proxy_;
};

}  // namespace qelt

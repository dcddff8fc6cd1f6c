#include "http/curl_http_request.h"

#include <curl/curl.h>

#include <new>
#include <stdexcept>
#include <string_view>

namespace qelt {

namespace {

// libcurl's process-wide state: initialised once, cleaned up at process exit.
struct CurlGlobal {
    CurlGlobal() : initialized(curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}
    ~CurlGlobal() {
        if (initialized) curl_global_cleanup();
    }
    bool initialized;
};

const CurlGlobal& Global() {
    static const CurlGlobal global;
    return global;
}

// curl_global_init is not safe to run while other threads use libcurl, so it runs before main, while the process
// has one thread; Global() still covers a request built by another static initialiser.
[[maybe_unused]] const bool kInitializedBeforeMain = Global().initialized;

constexpr int kAbortTransfer = 42;
constexpr const char* kHeaderTooLarge = "response header too large";
// The receive buffer of a range request (libcurl allows up to CURL_MAX_READ_SIZE; its default is 16 KiB).
constexpr long kRangeReceiveBufferBytes = 512L * 1024;

}  // namespace

// Nothing may unwind through libcurl's C frames: a failure here stops the transfer instead.
struct CurlHttpRequestCallbacks {
    static std::size_t Write(char* data, std::size_t size, std::size_t count, void* request) noexcept {
        try {
            return static_cast<CurlHttpRequest*>(request)->OnWrite(data, size * count);
        } catch (...) {
            return 0;
        }
    }
    static std::size_t Header(char* line, std::size_t size, std::size_t count, void* request) noexcept {
        try {
            return static_cast<CurlHttpRequest*>(request)->OnHeader(line, size * count);
        } catch (...) {
            return 0;
        }
    }
    static int Progress(void* request, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
        try {
            return static_cast<CurlHttpRequest*>(request)->IsRunning() ? 0 : kAbortTransfer;
        } catch (...) {
            return kAbortTransfer;
        }
    }
};

HttpRequestResult HttpResultFromCurlCode(int code, std::int32_t responseCode) {
    switch (code) {
        case CURLE_OK:
            return HttpRequestResult::Succeeded;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
        case CURLE_NOT_BUILT_IN:
            return HttpRequestResult::BadUrl;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return HttpRequestResult::ResolveFailed;
        case CURLE_COULDNT_CONNECT:
            return HttpRequestResult::ConnectFailed;
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_HTTP_RETURNED_ERROR:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return responseCode < 500 ? HttpRequestResult::HttpClientError : HttpRequestResult::HttpServerError;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return HttpRequestResult::SendReceiveFailed;
        case CURLE_WRITE_ERROR:
            return HttpRequestResult::WriteFailed;
        case CURLE_PARTIAL_FILE:
        case CURLE_RANGE_ERROR:
            return HttpRequestResult::RangeFailed;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpRequestResult::TimedOut;
        case CURLE_OUT_OF_MEMORY:
            return HttpRequestResult::OutOfMemory;
        default:
            return HttpRequestResult::OtherError;
    }
}

CurlHttpRequest::CurlHttpRequest(const HttpRequestParams& params, std::string proxy)
    : HttpRequest(params, std::move(proxy)) {
    if (!Global().initialized) throw std::runtime_error("libcurl could not be initialized");
    handle_ = curl_easy_init();
    if (handle_ == nullptr) throw std::runtime_error("curl_easy_init failed");
    ApplyOptions();
}

CurlHttpRequest::~CurlHttpRequest() {
    curl_easy_cleanup(handle_);
    curl_slist_free_all(headers_);
}

void CurlHttpRequest::ApplyOptions() {
    curl_easy_reset(handle_);
    curl_slist_free_all(headers_);
    headers_ = nullptr;

    curl_easy_setopt(handle_, CURLOPT_URL, params_.Url.c_str());
    curl_easy_setopt(handle_, CURLOPT_USERAGENT, params_.UserAgent.c_str());
    // Only plain and secure HTTP: a URL taken from a manifest must not reach local files or other protocols,
    // neither directly nor through a redirect.
    curl_easy_setopt(handle_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    if (params_.Method == 1) {
        curl_easy_setopt(handle_, CURLOPT_POST, 1L);
        // libcurl does not copy the body: it stays valid in params_ until the next re-arm. The explicit size lets
        // a body carry NUL bytes.
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, params_.Body.c_str());
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(params_.Body.size()));
        headers_ = curl_slist_append(headers_, ("Content-Type: " + params_.ContentType).c_str());
    }

    if (params_.IsWholeResource()) {
        if (!params_.AcceptEncoding.empty()) {
            curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, params_.AcceptEncoding.c_str());
        }
    } else {
        // An open end is sent as "N-": servers that parse the last byte as a signed 64-bit number (nginx among
        // them) answer 416 to 18446744073709551615.
        std::string range = std::to_string(params_.RangeStart) + "-";
        if (params_.RangeEnd != kHttpRangeEndOfResource) range += std::to_string(params_.RangeEnd);
        curl_easy_setopt(handle_, CURLOPT_RANGE, range.c_str());
        // A range is usually a whole chunk of a megabyte or more, written straight into the file's view: larger
        // blocks mean fewer reads from the socket and fewer calls into the writer for each chunk.
        curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, kRangeReceiveBufferBytes);
    }

    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &CurlHttpRequestCallbacks::Write);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &CurlHttpRequestCallbacks::Header);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CurlHttpRequestCallbacks::Progress);
    curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);

    curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle_, CURLOPT_MAXREDIRS, 1L);
    curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L);

    curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(params_.ConnectTimeout));
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(params_.Timeout));
    if (params_.LowSpeedLimit > 0 && params_.LowSpeedTime > 0) {
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(params_.LowSpeedLimit));
        curl_easy_setopt(handle_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(params_.LowSpeedTime));
    }

    // Always set, "" meaning direct, and with an empty bypass list: otherwise libcurl would consult http_proxy and
    // no_proxy itself and the proxy source's choice would not be the only one.
    curl_easy_setopt(handle_, CURLOPT_PROXY, proxy_.c_str());
    curl_easy_setopt(handle_, CURLOPT_NOPROXY, "");

    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers_);
    // Requests run on many threads: timeouts must not be implemented with signals.
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
}

HttpRequestStatus CurlHttpRequest::Perform() {
    {
        std::lock_guard lock(mutex_);
        if (status_.State != HttpRequestResult::Idle) return status_;
        status_.State = HttpRequestResult::Running;
        performing_ = true;
    }
    headerBytes_ = 0;
    headerComplete_ = false;
    Finish(curl_easy_perform(handle_));
    return GetStatus();
}

void CurlHttpRequest::Finish(int code) {
    std::lock_guard lock(mutex_);
    long responseCode = 0;
    if (curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &responseCode) == CURLE_OK) {
        status_.ResponseCode = static_cast<std::int32_t>(responseCode);
    }
    char* primaryIp = nullptr;
    if (curl_easy_getinfo(handle_, CURLINFO_PRIMARY_IP, &primaryIp) == CURLE_OK && primaryIp != nullptr) {
        status_.PrimaryIp = primaryIp;
    }
    performing_ = false;
    // A state set meanwhile by Cancel or by the writer is the real reason the transfer stopped.
    if (status_.State != HttpRequestResult::Running) return;
    status_.State = HttpResultFromCurlCode(code, status_.ResponseCode);
    // libcurl 7.x reports a header line longer than it keeps (100 KiB) as out of memory. Once the request is sent
    // and before the response header has ended, that is what it means: the server's fault, not the machine's.
    long requestSize = 0;
    if (code == CURLE_OUT_OF_MEMORY && !headerComplete_ &&
        curl_easy_getinfo(handle_, CURLINFO_REQUEST_SIZE, &requestSize) == CURLE_OK && requestSize > 0) {
        status_.State = HttpRequestResult::OtherError;
        status_.Message = kHeaderTooLarge;
        return;
    }
    if (code != CURLE_OK) {
        status_.Message =
            "libcurl error " + std::to_string(code) + " (HTTP " + std::to_string(status_.ResponseCode) + ")";
    }
}

bool CurlHttpRequest::IsRunning() {
    std::lock_guard lock(mutex_);
    return status_.State == HttpRequestResult::Running;
}

std::size_t CurlHttpRequest::OnWrite(const char* data, std::size_t length) {
    if (!IsRunning()) return 0;
    HttpRequestStatus answer;
    if (params_.Writer == nullptr) {
        answer.State = HttpRequestResult::WriteFailed;
        answer.Message = "request has no writer";
    } else {
        try {
            answer = params_.Writer->Write(data, length);
        } catch (const std::bad_alloc&) {
            answer = HttpRequestStatus{};
            answer.State = HttpRequestResult::OutOfMemory;
            answer.Message = "writer ran out of memory";
        } catch (const std::exception& e) {
            answer = HttpRequestStatus{};
            answer.State = HttpRequestResult::WriteFailed;
            answer.Message = e.what();
        } catch (...) {
            answer = HttpRequestStatus{};
            answer.State = HttpRequestResult::WriteFailed;
            answer.Message = "writer failed";
        }
    }

    std::lock_guard lock(mutex_);
    status_.BytesReceived += answer.BytesReceived;
    const bool refused = answer.State != HttpRequestResult::Succeeded;
    if (refused && status_.State == HttpRequestResult::Running) {
        status_.State =
            answer.State == HttpRequestResult::RangeFailed || answer.State == HttpRequestResult::OutOfMemory
                ? answer.State
                : HttpRequestResult::WriteFailed;
        status_.Message = answer.Message;
    }
    // A writer that refused stops the transfer even when it claims to have taken the whole block. One that claims
    // more than it was given is broken and stops it too: any count but the block's length aborts, and a clamped or
    // truncated count could pass for the whole block or for libcurl's pause value.
    if (refused || answer.BytesReceived > length) return 0;
    return static_cast<std::size_t>(answer.BytesReceived);
}

std::size_t CurlHttpRequest::OnHeader(const char* line, std::size_t length) {
    const std::string_view text(line, length);
    if (text.starts_with("HTTP/")) headerComplete_ = false;  // the next response (after a redirect or 100)
    if (text == "\r\n" || text == "\n") headerComplete_ = true;
    headerBytes_ += length;
    if (headerBytes_ <= kMaxResponseHeaderBytes) return length;
    std::lock_guard lock(mutex_);
    if (status_.State == HttpRequestResult::Running) {
        status_.State = HttpRequestResult::OtherError;
        status_.Message = kHeaderTooLarge;
    }
    return 0;
}

HttpRequestStatus CurlHttpRequest::GetStatus() {
    std::lock_guard lock(mutex_);
    return status_;
}

void CurlHttpRequest::Cancel() {
    std::lock_guard lock(mutex_);
    if (status_.State == HttpRequestResult::Idle || status_.State == HttpRequestResult::Running) {
        status_.State = HttpRequestResult::Cancelled;
    }
}

bool CurlHttpRequest::Reset(const HttpRequestParams& params, const std::string& proxy) {
    std::lock_guard lock(mutex_);
    if (status_.State == HttpRequestResult::Running || performing_) return false;
    params_ = params;
    proxy_ = proxy;
    status_ = HttpRequestStatus{};
    ApplyOptions();
    return true;
}

}  // namespace qelt

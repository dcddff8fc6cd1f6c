#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/http_request.h"

// libcurl's handle types, kept opaque so that users of requests need not see curl.h.
typedef void CURL;
struct curl_slist;

namespace qelt {

// A request over one libcurl easy handle, owned for the request's whole life. Reset re-arms the same handle, so
// its open connections survive between requests (the pools rely on this).
//
// The proxy string is always given to libcurl, "" meaning direct: libcurl never makes a proxy choice of its own
// from the environment.
//
// Construction throws std::runtime_error when libcurl could not be initialised for the process or the handle could
// not be created. Transport and HTTP failures never throw; they end in a State of 4 or more with the message
// "libcurl error <code> (HTTP <status>)". A response header longer than kMaxResponseHeaderBytes, or one line of it
// longer than libcurl keeps, is the server's fault and ends in OtherError with the message "response header too
// large", never in OutOfMemory, which stays for allocations that failed.
class CurlHttpRequest : public HttpRequest {
public:
    CurlHttpRequest(const HttpRequestParams& params, std::string proxy);
    ~CurlHttpRequest() override;

    HttpRequestStatus Perform() override;
    HttpRequestStatus GetStatus() override;
    void Cancel() override;
    bool Reset(const HttpRequestParams& params, const std::string& proxy) override;

private:
    // libcurl's C callbacks, defined beside the implementation. They run on the performing thread without the
    // lock held and never throw.
    friend struct CurlHttpRequestCallbacks;

    // Needs the lock held or the request otherwise unreachable (construction).
    void ApplyOptions();
    std::size_t OnWrite(const char* data, std::size_t length);
    std::size_t OnHeader(const char* line, std::size_t length);
    bool IsRunning();
    void Finish(int code);

    CURL* handle_ = nullptr;
    curl_slist* headers_ = nullptr;
    std::mutex mutex_;  // guards performing_ and status_
    bool performing_ = false;
    HttpRequestStatus status_;
    // Touched only on the performing thread: the response header bytes so far and whether the last response's
    // header has ended.
    std::size_t headerBytes_ = 0;
    bool headerComplete_ = false;
};

// The most response header bytes a request accepts. A real server sends a few KiB.
inline constexpr std::size_t kMaxResponseHeaderBytes = std::size_t{256} * 1024;

// Maps a libcurl result code to the request state it ends in (0 gives Succeeded).
HttpRequestResult HttpResultFromCurlCode(int code, std::int32_t responseCode);

}  // namespace qelt

#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qelt::test {

// A fault injected into the server's answer to one request. Fields combine: a delay, a stall and a trickle can
// all apply to one body; a status or redirect replaces the content by a short text body, to which the body faults
// apply as well.
struct HttpFault {
    // Non-zero: answer this status with the body "status <code>\n" instead of the content.
    int status = 0;
    // Non-empty: answer "302 Found" with this Location (a path on this server or an absolute URL).
    std::string redirectTo;
    // Answer "200 OK" with the whole content even when a range was asked.
    bool ignoreRange = false;
    // Invert (bitwise not) corruptLength bytes of the body starting at corruptOffset (offsets within the body as
    // sent, not within the file).
    std::uint64_t corruptOffset = 0;
    std::uint64_t corruptLength = 0;
    // Close the connection after this many body bytes; the headers still announce the full length.
    std::optional<std::uint64_t> closeAfterBytes;
    // Send nothing at all (no status line) for this long.
    std::chrono::milliseconds delay{0};
    // After stallAfterBytes body bytes, send nothing for this long, then go on.
    std::uint64_t stallAfterBytes = 0;
    std::chrono::milliseconds stall{0};
    // Non-zero: send the body at about this many bytes per second (slices every 50 ms).
    std::uint64_t bytesPerSecond = 0;
    // Non-zero: pad the response header with this many bytes of "X-Padding" header lines, each at most
    // headerPaddingLineBytes long (0: all in one line).
    std::uint64_t headerPaddingBytes = 0;
    std::uint64_t headerPaddingLineBytes = 0;
};

// One request as the server received it.
struct RecordedRequest {
    std::uint64_t number = 0;      // 1-based, in the order requests were completely received
    std::uint64_t connection = 0;  // 1-based number of the TCP connection it arrived on
    std::string method;            // "GET", "POST" ...
    std::string target;            // as sent: "/a/b?x" or, to a proxy, "http://127.0.0.1:1234/a/b?x"
    std::string path;              // the target's path, percent-decoded, without query: "/a/b"
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order, names as sent
    std::string body;

    // The first header of that name (case-insensitive), if any.
    std::optional<std::string> Header(std::string_view name) const;
    // "GET /a/b HTTP/1.1"
    std::string RequestLine() const;
};

// A loopback HTTP/1.1 server for tests: it binds an ephemeral port on 127.0.0.1 in its constructor and serves on
// a thread of its own until its destructor, which stops it at once (stalled responses and idle keep-alive
// connections included) and never waits for clients.
//
// Content: files added in memory (AddFile) and, for paths not found there, files under a folder (ServeFolder).
// A path is matched percent-decoded and without its query; ".." segments never leave the folder. GET and HEAD
// are answered 200 with the whole file or, for a single "Range: bytes=..." (first-last, first- or -suffix), 206
// with Content-Range; a range starting at or past the end is answered 416 with "Content-Range: bytes */<size>";
// several ranges or an unparsable one are ignored (200). A POST to a path without content is answered 200 with an
// empty body; with content, like a GET. Unknown paths get 404. Connections are kept alive unless the client asks
// otherwise; "Expect: 100-continue" is answered.
//
// Proxy mode: a request in absolute form ("GET http://127.0.0.1:port/path HTTP/1.1") is forwarded to that
// origin, which must be a loopback address or "localhost" (anything else gets 502), and its answer relayed. Faults
// do not apply to forwarded requests. Without proxy mode an absolute-form request is served from this server's
// own content.
//
// Faults are chosen per request: one registered for the request's number wins over one registered for its path.
// Every method may be called from any thread.
class TestHttpServer {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    std::uint16_t Port() const;
    // "http://127.0.0.1:<port>"
    std::string Origin() const;
    // Origin() + path; path starts with '/'.
    std::string Url(const std::string& path) const;
    // "127.0.0.1:<port>", as a proxy string for requests.
    std::string ProxyAddress() const;

    void AddFile(const std::string& path, std::string content,
                 std::string contentType = "application/octet-stream");
    void RemoveFile(const std::string& path);
    void ServeFolder(std::filesystem::path folder);
    void SetProxyMode(bool enabled);

    // The fault for the next `times` requests of path (-1: every request until cleared).
    void SetFault(const std::string& path, HttpFault fault, int times = -1);
    // The fault for the request with this number (see RecordedRequest::number).
    void SetFaultForRequest(std::uint64_t number, HttpFault fault);
    void ClearFaults();

    // While refusing, the port has no listener, so connection attempts are refused by the system; connections
    // already open stay open. Returns once the change is in effect.
    void SetRefusingConnections(bool refusing);

    std::uint64_t RequestCount() const;
    std::uint64_t ConnectionCount() const;
    std::vector<RecordedRequest> Requests() const;
    // Waits until at least count requests have arrived; false on timeout.
    bool WaitForRequestCount(std::uint64_t count, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Reproducible content of any size (a fixed pseudo-random sequence per seed), for files whose bytes must be
// checked after transfer.
std::string MakeTestContent(std::size_t size, std::uint32_t seed = 1);

}  // namespace qelt::test

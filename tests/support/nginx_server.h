#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace qelt::test {

struct NginxOptions {
    // The folder served on every port; files are served with byte ranges.
    std::filesystem::path root;
    // Loopback ports to listen on, each chosen free.
    std::size_t ports = 1;
    // Per port, in order: the rate in bytes per second at which each response is sent (nginx's limit_rate);
    // 0, or no entry, for full speed.
    std::vector<std::uint64_t> rateLimits = {};
    unsigned workerProcesses = 1;
};

// One line of the access log: one finished request.
struct NginxLogEntry {
    std::uint16_t port = 0;
    std::string method;
    std::string path;  // decoded, without the query
    int status = 0;
    std::string range;  // the Range header as sent; empty without one
    std::uint64_t bodyBytes = 0;
};

// A real nginx (/usr/sbin/nginx) serving a folder on free loopback ports, for end-to-end tests and benchmarks.
// Its configuration, pid file, temporary folders and logs live in a private temporary folder, so it runs beside
// any system nginx, as root (its workers keep the caller's user) or not. The constructor returns once every port
// accepts connections and throws std::runtime_error, with nginx's own complaint, when it cannot start. The
// destructor stops it (and, should it not stop in time, kills every process it started) whatever state it is in.
// Should the creating thread end first, nginx is told to stop as well: create it on a thread that outlives it.
class NginxServer {
public:
    explicit NginxServer(NginxOptions options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    const std::vector<std::uint16_t>& Ports() const { return ports_; }
    // "http://127.0.0.1:<port>" of the port with this index.
    std::string Origin(std::size_t index = 0) const;
    // Origin(index) + path; path starts with '/'.
    std::string Url(std::size_t index, const std::string& path) const;

    // Every request logged so far, in the order nginx finished them.
    std::vector<NginxLogEntry> AccessLog() const;
    // nginx logs a request once its response is finished, which may be a moment after the client has the last
    // byte: waits until the log holds at least `count` entries; false on timeout.
    bool WaitForLogEntries(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // The private folder: nginx.conf, error.log, access.log.
    const std::filesystem::path& Folder() const { return folder_.path(); }

private:
    struct Process;

    // Chooses ports, writes the configuration and starts nginx; false when another program took one of the
    // ports first (worth another try), an exception for any other failure.
    bool TryStart(const NginxOptions& options);
    void WriteConfig(const NginxOptions& options) const;
    void Stop();
    std::string ErrorLogText() const;

    TempDir folder_;
    std::vector<std::uint16_t> ports_;
    std::unique_ptr<Process> process_;
};

}  // namespace qelt::test

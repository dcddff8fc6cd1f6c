#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qelt::fetch {

// A command line the program cannot run; printed with a pointer to --help, exit 1.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// Everything one fetch needs, checked by ParseCommandLine.
struct FetchOptions {
    bool help = false;
    std::string host;  // the manifest host: a host name or address, optionally ":" and a port
    std::string partnerId;
    std::string packageId;
    std::string versionId = "?";  // "?": the package's current version
    std::string destination;      // the folder the package's files go into
    std::int32_t logMask = 0;     // the work log's level mask; 0 writes no log
    std::string analyticsHost;    // empty: no analytics are posted
    // A transfer stopped by a connection or checksum error is retried this many times, `retryDelay` apart.
    unsigned retries = 3;
    std::chrono::milliseconds retryDelay{5000};
};

// Reads the arguments after the program name. Options take their value as the next argument or after "=".
// Throws UsageError for anything missing, unknown, repeated or malformed.
FetchOptions ParseCommandLine(const std::vector<std::string>& arguments);

// HOST[:PORT] with an optional "http://" in front, as the engine takes it (without the scheme). Throws UsageError
// naming `option` for another scheme, an empty host, a path, or a port that is not 1-65535.
std::string ParseHost(const std::string& option, const std::string& text);

// The --help text.
std::string UsageText();

}  // namespace qelt::fetch

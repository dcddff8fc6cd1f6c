#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qelt::publish {

// One download node as given on the command line: HOST[:PORT][/PATH].
struct NodeAddress {
    std::string host;  // the URL authority: a host name or address, optionally ":" and a port
    std::string path;  // begins and ends with "/"; "/packages/" when none was given

    bool operator==(const NodeAddress&) const = default;
};

// Everything one publish run needs. Values are checked by the parsers below before they land here.
struct PublishOptions {
    std::filesystem::path source;
    std::filesystem::path root;
    std::string partnerId;
    std::string packageId;
    std::string versionId;
    std::string name;  // empty: the source folder's name
    std::string run;   // empty: no program to start
    std::uint32_t chunkSize = 1u << 20;
    std::vector<NodeAddress> nodes;
    bool current = false;
    bool link = false;
    bool metalink = false;
};

// The partner, package and version ids become file names on the mirror and segments of every URL, so only
// characters that stand in a URL path as they are: letters, digits, "-", ".", "_" and "~", with "." and ".." on
// their own refused. `what` names the value in the message ("package id"). Throws UsageError.
void CheckIdentifier(const std::string& what, const std::string& value);

// "current" names the current-version document of a package, so it cannot be a version id. Throws UsageError.
void CheckVersionId(const std::string& value);

// A display name or a path inside a package: valid UTF-8 without control characters, so that it can be written
// into an XML document as it is. Throws UsageError naming `what`.
void CheckDocumentText(const std::string& what, const std::string& value);

// A byte count with an optional binary unit: "1048576", "64K", "64KiB", "1M", "1MiB", "1G". Must be at least 1
// and at most 4 GiB - 1 (a chunk size is 32 bits). Throws UsageError.
std::uint32_t ParseChunkSize(const std::string& text);

// HOST[:PORT][/PATH], with an optional "http://" in front. Throws UsageError for another scheme, an empty host, a
// port that is not 1-65535, or a path with characters a URL path cannot carry as they are.
NodeAddress ParseNodeAddress(const std::string& text);

}  // namespace qelt::publish

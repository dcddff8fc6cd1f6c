#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/qelt_publish/publish_options.h"

namespace qelt {
class StandardNodeListManifest;
class StandardPackageManifest;
}  // namespace qelt

namespace qelt::publish {

// One file as a package manifest describes it.
struct PublishedFile {
    std::string path;
    std::uint32_t chunkSize = 0;
    std::uint64_t size = 0;
    std::vector<std::uint32_t> checksums;  // one CRC-32 per chunk
};

struct PackageDescription {
    std::string id;
    std::string name;
    std::string partnerId;
    std::string versionId;
    std::string run;  // may be empty
    std::vector<PublishedFile> files;
};

// The package manifest document (root element `package`, every value a child element).
std::string WritePackageDocument(const PackageDescription& package);

// The node list document (root element `ArrayOfNodeInfo`, one `NodeInfo` per node, numbered from 1).
std::string WriteNodeListDocument(const std::vector<NodeAddress>& nodes);

// The engine's own reading of a document; throws what the engine's reader throws (a ManifestException).
std::shared_ptr<StandardPackageManifest> ReadPackageDocument(const std::string& text);
std::shared_ptr<StandardNodeListManifest> ReadNodeListDocument(const std::string& text);

// How what the engine reads in `text` differs from `package` ("file \"a\" differs"), or nothing when it reads
// exactly what `package` holds.
std::optional<std::string> PackageDifference(const std::string& text, const PackageDescription& package);

// Reads `text` back with the engine's reader and checks that it says exactly what `package` holds. Throws
// PublishError when it does not, so a document is never published that the engine would read differently.
void VerifyPackageDocument(const std::string& text, const PackageDescription& package);
void VerifyNodeListDocument(const std::string& text, const std::vector<NodeAddress>& nodes);

// Text escaped for an XML element or a quoted attribute.
std::string EscapeXml(std::string_view text);

}  // namespace qelt::publish

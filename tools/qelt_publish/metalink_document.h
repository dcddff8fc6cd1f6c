#pragma once

#include <string>
#include <vector>

#include "tools/qelt_publish/package_document.h"
#include "tools/qelt_publish/publish_options.h"
#include "tools/qelt_publish/sha256.h"

namespace qelt::publish {

// A file of the package with the SHA-256 of each of its chunks, in chunk order.
struct MetalinkFile {
    const PublishedFile* file = nullptr;  // not owned
    std::vector<Sha256Digest> pieces;
};

// The URL at which a node serves a published file: http://, the node's host and path, then the partner, package
// and version ids and the file's path, every segment percent-encoded so that any file name reaches the server as
// it is. Servers decode it to the same path as the URL the engine requests chunks from.
std::string FileUrl(const NodeAddress& node, const PackageDescription& package, const std::string& filePath);

// A Metalink 4 document (RFC 5854) of one package version: each file with its size, its URL on every node and
// one SHA-256 piece hash per chunk (the piece length is the chunk size), so general download tools can fetch and
// verify the same mirror.
std::string WriteMetalinkDocument(const PackageDescription& package, const std::vector<MetalinkFile>& files,
                                  const std::vector<NodeAddress>& nodes);

}  // namespace qelt::publish

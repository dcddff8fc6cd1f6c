#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/qelt_publish/publisher.h"

namespace qelt::publish {

// A chunk whose bytes on the mirror do not match the checksum its manifest gives.
struct DamagedChunk {
    std::string file;  // relative to the mirror root, "/"-separated
    std::uint32_t chunk = 0;
    std::uint64_t lowerBound = 0;  // inclusive
    std::uint64_t upperBound = 0;  // inclusive
};

struct CheckReport {
    std::size_t manifests = 0;  // distinct package manifests read
    std::size_t files = 0;
    std::uint64_t chunks = 0;
    std::uint64_t bytes = 0;
    // Whatever keeps a client from reading the mirror besides damaged chunks: a manifest or node list the
    // engine refuses, a manifest at a place where the engine would not take it, a missing file, a wrong size.
    std::vector<std::string> problems;
    std::vector<DamagedChunk> damaged;

    bool Healthy() const { return problems.empty() && damaged.empty(); }
};

// Re-reads every package manifest under root/manifests and every node list under root/nodes with the engine's
// readers, and verifies every chunk of every file the manifests name (files of all manifests are checksummed in
// parallel; a document that appears twice, such as current.xml beside its version, is verified once). Throws
// PublishError when the root is not a mirror or a file cannot be read at all.
CheckReport CheckMirror(const std::filesystem::path& root, const PublishProgress& progress = {});

}  // namespace qelt::publish

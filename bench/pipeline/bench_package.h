#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "manifest/package_manifest.h"

namespace qelt::bench {

// One chunk of one file of the package: its path inside the package and its inclusive byte range.
struct ChunkRef {
    std::string path;
    std::uint64_t lowerBound = 0;
    std::uint64_t upperBound = 0;

    std::uint64_t Length() const { return upperBound - lowerBound + 1; }
    // The Range header a request for exactly this chunk carries.
    std::string RangeHeader() const;
};

// The package as published: its manifest read back from the mirror root, and what the benchmark checks against.
class BenchPackage {
public:
    BenchPackage(const std::filesystem::path& mirrorRoot, const std::string& packageId,
                 const std::string& versionId);

    const PackageManifest& Manifest() const { return *manifest_; }
    std::uint64_t TotalBytes() const;
    std::size_t ChunkTotal() const;

    // The chunks of the files under `folder` whose CRC-32 differs from the manifest's (a missing or short file
    // fails every chunk it lacks).
    std::vector<ChunkRef> BadChunks(const std::filesystem::path& folder) const;

    // `count` chunks spread over the files, a different choice for each `round`.
    std::vector<ChunkRef> PickChunks(std::size_t count, unsigned round) const;

private:
    std::shared_ptr<PackageManifest> manifest_;
};

// Inverts one byte in the middle of each chunk, through ordinary writes to the files under `folder`.
void DamageChunks(const std::filesystem::path& folder, const std::vector<ChunkRef>& chunks);

}  // namespace qelt::bench

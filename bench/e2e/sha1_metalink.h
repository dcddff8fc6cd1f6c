#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qelt::bench {

// One file of a Metalink: its name, where its bytes are read from for the checksums, and its URLs (one per
// mirror, in order).
struct MetalinkEntry {
    std::string name;
    std::filesystem::path source;
    std::vector<std::string> urls;
};

// Writes a Metalink 4 document to `path` with one SHA-1 per piece of `pieceLength` bytes of every file.
void WriteSha1Metalink(const std::filesystem::path& path, const std::vector<MetalinkEntry>& files,
                       std::uint64_t pieceLength);

}  // namespace qelt::bench

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/manifest.h"

namespace qelt {

// The number of chunks of a file: ceil(size / chunkSize), 0 when chunkSize is 0. Throws
// ManifestOverflowException when size + chunkSize - 1 does not fit 64 bits or the count does not fit 32 bits.
std::uint32_t ChunkCount(std::uint32_t chunkSize, std::uint64_t size);

// The bytes of one chunk, both bounds inclusive.
struct ChunkRange {
    std::uint64_t lowerBound = 0;
    std::uint64_t upperBound = 0;
};

// Chunk `index` of a file covers index * chunkSize through min((index + 1) * chunkSize, size) - 1; only the last
// chunk may be shorter. Throws std::out_of_range when the index is not below ChunkCount(chunkSize, size).
ChunkRange GetChunkRange(std::uint32_t chunkSize, std::uint64_t size, std::uint32_t index);

// Whether a path from a package document may name a file inside the destination folder: non-empty, relative,
// made of non-empty "/"-separated segments none of which is "..", and free of backslashes and NUL characters.
bool IsSafeRelativePath(const std::string& path);

// One file of a package. Immutable once read; shared between works as a pointer to const.
class FileManifest : public InputManifest {
public:
    // Relative to the destination folder, exactly as written in the document.
    virtual const std::string& GetPath() const = 0;
    virtual const std::uint32_t& GetChunkSize() const = 0;
    virtual const std::uint64_t& GetSize() const = 0;
    // The expected CRC-32 of each chunk, chunk 0 first; always ChunkCount(GetChunkSize(), GetSize()) entries.
    virtual const std::vector<std::uint32_t>& GetChecksums() const = 0;
};

// A file read from a `file` element (children or promoted attributes "path", "chunksize", "size", "checksums").
// The constructor reads the node, so an object that exists is valid; any fault is a ManifestParseException.
class StandardFileManifest : public FileManifest {
public:
    explicit StandardFileManifest(const ptree& node);
    StandardFileManifest(const StandardFileManifest&) = delete;
    StandardFileManifest& operator=(const StandardFileManifest&) = delete;

    void Deserialize(const ptree& node) override;
    const std::string& GetPath() const override { return path_; }
    const std::uint32_t& GetChunkSize() const override { return chunkSize_; }
    const std::uint64_t& GetSize() const override { return size_; }
    const std::vector<std::uint32_t>& GetChecksums() const override { return checksums_; }

private:
    void Read(const ptree& node);

    std::string path_;
    std::uint32_t chunkSize_ = 0;
    std::uint64_t size_ = 0;
    std::vector<std::uint32_t> checksums_;
};

}  // namespace qelt

#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "tools/qelt_publish/sha256.h"

namespace qelt::publish {

// One file to checksum chunk by chunk. When copyTo is set, every byte read is also written at the same offset
// into that existing file, so a copy costs one read of the source. Files are opened only while a thread works on
// them, so any number of files can be hashed within the limit of open files.
struct HashJob {
    std::filesystem::path source;
    std::uint64_t size = 0;        // bytes to read; the file must have at least that many
    std::uint32_t chunkSize = 0;   // > 0, and ChunkCount(chunkSize, size) must not overflow
    std::filesystem::path copyTo;  // empty: nothing is written
};

struct FileChecksums {
    std::vector<std::uint32_t> crc32;  // the CRC-32 of each chunk, chunk 0 first
    std::vector<Sha256Digest> sha256;  // the SHA-256 of each chunk when asked for, else empty
};

struct HashSettings {
    bool sha256 = false;
    unsigned threads = 0;  // 0: one per processor
    // Called on the calling thread about every 100 ms with the bytes read so far and the total; may be empty. An
    // exception it throws stops the workers and leaves HashFiles once they have ended.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// Checksums every chunk of every job, spreading runs of chunks of all files over the threads so that one large
// file is hashed in parallel too. Returns one entry per job, in job order. Throws PublishError for a file that
// cannot be read or written (the first failure stops the others); no exception escapes a worker thread.
std::vector<FileChecksums> HashFiles(const std::vector<HashJob>& jobs, const HashSettings& settings);

}  // namespace qelt::publish

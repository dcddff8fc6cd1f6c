#pragma once

#include <cstdint>

namespace qelt {

// The byte counters the works of a transfer report through. Called from any pool thread at any time; the
// implementation counts atomically and takes no lock of the transfer.
//
// The chunk works use it so: the HTTP writer adds progress and downloaded bytes with every block it writes; a
// verified chunk first corrects its written count to exactly the chunk size and then adds the size as verified;
// a chunk that fails verification removes everything written for it.
class TransferProgressUpdater {
public:
    virtual ~TransferProgressUpdater() = default;
    virtual void AddProgress(const std::uint64_t& bytes) = 0;
    virtual void RemoveProgress(const std::uint64_t& bytes) = 0;
    virtual void AddVerified(const std::uint64_t& bytes) = 0;
    virtual void AddDownloaded(const std::uint64_t& bytes) = 0;
};

}  // namespace qelt

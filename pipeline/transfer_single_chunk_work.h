#pragma once

#include <cstdint>
#include <memory>

#include "transfer/transfer_work.h"
#include "work/conditional_work.h"
#include "work/sequential_work.h"

namespace qelt {

class HttpSession;
class OptimizedRequestChunkWork;
class TransferSharedFileData;
class TransferSharedMapData;

// Makes the chunk count exactly its length in the transfer's progress, then adds it as verified.
void SettleChunkProgress(TransferSharedMapData& mapData);
// Forgets what was written for the chunk: the next write starts at its first byte and its progress goes back to
// zero. Does nothing without a view.
void DiscardChunk(TransferSharedMapData& mapData);

// The retry budget of a chunk work: the setting, but at least one retry for every node after the first, so that
// every node can be tried.
unsigned ChunkRetryBudget(std::int32_t setting, TransferWorkInterface& iface);

// One chunk of a file: map its range, read in what is already on disk, keep it when its checksum matches, else
// download and verify it within a budget, and unmap. In a file this run allocated afresh, the range holds zeros
// until downloaded into, so its first check is worked out from its length instead of read. The works below share
// the chunk's map data and run one after another, so the map data needs no lock.
//
//   TransferSingleChunkWork
//     CreateChunkMapWork
//     MutexPrefetchChunkWork
//     ConditionalTransferChunkWork: VerifyChunkWork ? NoOpWork : RetryableTransferChunkWork
//                                                                  OptimizedRequestChunkWork
//                                                                  VerifyChunkWork
//     ReleaseChunkMapWork
class TransferSingleChunkWork : public TransferWork, public SequentialWork {
public:
    TransferSingleChunkWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                            std::shared_ptr<TransferSharedFileData> fileData, std::uint64_t lowerBound,
                            std::uint64_t upperBound, std::uint32_t expectedChecksum);

    void Describe(ptree& out) const override;
    // Runs the chunk again from its mapping; the transfer's counters are left as they are.
    void Reset() override;
    // Unmaps the chunk's view (when the file's works are torn down).
    void ReleaseView();

    const std::shared_ptr<TransferSharedMapData>& MapData() const { return mapData_; }

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

// Maps the chunk's range of the opened file.
class CreateChunkMapWork : public TransferWork, public SimpleWork {
public:
    CreateChunkMapWork(std::shared_ptr<TransferWorkInterface> iface,
                       std::shared_ptr<TransferSharedMapData> mapData);

    void Describe(ptree& out) const override;
    void Reset() override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

// Pages the chunk's existing bytes in, one chunk at a time in the whole process, so that reading what is already
// on disk stays sequential instead of scattering over every running chunk. A range known to hold only zeros is not
// read: when the chunk is not all zeros its pages are brought in ready for the download's writes instead.
class MutexPrefetchChunkWork : public TransferWork, public SimpleWork {
public:
    MutexPrefetchChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                           std::shared_ptr<TransferSharedMapData> mapData);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

// Checks the chunk's CRC-32 over its view (before a download, over a range known to hold only zeros, the CRC-32 of
// that many zeros without reading them). A match settles the chunk's progress and counts it verified; a
// mismatch discards what was written and reports Failure with the checksum found. After a download it also tells
// the request work how the download turned out.
class VerifyChunkWork : public TransferWork, public SimpleWork {
public:
    // `download` is the request work whose bytes this verification judges, or null for the check of what was
    // already on disk.
    VerifyChunkWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<TransferSharedMapData> mapData,
                    std::shared_ptr<OptimizedRequestChunkWork> download = nullptr);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
    const std::shared_ptr<OptimizedRequestChunkWork> download_;
};

// Downloads the chunk and verifies it; a failed verification restarts both steps within the budget, and when that
// is used up the error pauses the workflow.
class RetryableTransferChunkWork : public TransferWork, public LimitedRetrySequentialWork {
public:
    RetryableTransferChunkWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                               std::shared_ptr<TransferSharedMapData> mapData, unsigned maxRetries);

    void Describe(ptree& out) const override;

    const std::shared_ptr<OptimizedRequestChunkWork>& Request() const { return request_; }

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
    const std::shared_ptr<OptimizedRequestChunkWork> request_;
};

// Keeps the chunk when what is on disk verifies, else downloads it.
class ConditionalTransferChunkWork : public TransferWork, public ConditionalWork {
public:
    ConditionalTransferChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                 std::shared_ptr<HttpSession> session,
                                 std::shared_ptr<TransferSharedMapData> mapData);

    void Describe(ptree& out) const override;

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

// Drops the chunk's view; the mapping goes when its last holder lets go.
class ReleaseChunkMapWork : public TransferWork, public SimpleWork {
public:
    ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> iface,
                        std::shared_ptr<TransferSharedMapData> mapData);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<TransferSharedMapData> mapData_;
};

}  // namespace qelt

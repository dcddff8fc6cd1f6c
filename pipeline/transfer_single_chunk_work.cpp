#include "pipeline/transfer_single_chunk_work.h"

#include <algorithm>
#include <mutex>

#include "manifest/crc32.h"
#include "manifest/node_list_manifest.h"
#include "pipeline/optimized_request_chunk_work.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_work_wiring.h"
#include "storage/shared_file.h"
#include "transfer/transfer_behavior.h"
#include "transfer/transfer_progress_updater.h"
#include "work/no_op_work.h"

namespace qelt {
namespace {

// One for the whole process: at most one chunk of any transfer reads its existing bytes from disk at a time.
std::mutex prefetchMutex;

WorkStatus MissingData(const char* message) {
    return WorkStatus(WorkResult::FatalError,
                      std::make_shared<TransferErrorData>(TransferError::InternalError, message));
}

void DescribeChunkWork(ptree& out, const char* name, TransferWorkInterface& iface,
                       const TransferSharedMapData& mapData) {
    DescribeTransferWork(out, name, false, iface);
    mapData.Describe(out);
}

}  // namespace

void SettleChunkProgress(TransferSharedMapData& mapData) {
    const std::uint64_t length = mapData.Length();
    const std::uint64_t counted = mapData.fileProgressBytes.exchange(length, std::memory_order_relaxed);
    if (counted < length) {
        mapData.progress->AddProgress(length - counted);
    } else if (counted > length) {
        mapData.progress->RemoveProgress(counted - length);
    }
    mapData.progress->AddVerified(length);
}

void DiscardChunk(TransferSharedMapData& mapData) {
    if (!mapData.view) return;
    mapData.view->Seek(mapData.lowerBound);
    const std::uint64_t counted = mapData.fileProgressBytes.exchange(0, std::memory_order_relaxed);
    if (counted != 0) mapData.progress->RemoveProgress(counted);
}

unsigned ChunkRetryBudget(std::int32_t setting, TransferWorkInterface& iface) {
    const auto nodeList = iface.GetNodeList();
    const std::size_t nodes = nodeList ? nodeList->GetNodes().size() : 0;
    const std::size_t others = nodes > 0 ? nodes - 1 : 0;
    return static_cast<unsigned>(std::max<std::size_t>(static_cast<std::size_t>(std::max(setting, 0)), others));
}

TransferSingleChunkWork::TransferSingleChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                                 std::shared_ptr<HttpSession> session,
                                                 std::shared_ptr<TransferSharedFileData> fileData,
                                                 std::uint64_t lowerBound, std::uint64_t upperBound,
                                                 std::uint32_t expectedChecksum)
    : TransferWork(std::move(iface)),
      mapData_(std::make_shared<TransferSharedMapData>(std::move(fileData), lowerBound, upperBound,
                                                       expectedChecksum, iface_->GetProgressUpdater())) {
    RegisterTransferObservers(*this, *iface_);
    AddWork(std::make_shared<CreateChunkMapWork>(iface_, mapData_));
    AddWork(std::make_shared<MutexPrefetchChunkWork>(iface_, mapData_));
    AddWork(std::make_shared<ConditionalTransferChunkWork>(iface_, std::move(session), mapData_));
    AddWork(std::make_shared<ReleaseChunkMapWork>(iface_, mapData_));
}

void TransferSingleChunkWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "TransferSingleChunkWork", *iface_, *mapData_);
}

void TransferSingleChunkWork::Reset() {
    std::lock_guard lock(Mutex());
    SequentialWork::Reset();
    mapData_->view.reset();
    mapData_->fileProgressBytes.store(0, std::memory_order_relaxed);
}

void TransferSingleChunkWork::ReleaseView() {
    mapData_->view.reset();
}

CreateChunkMapWork::CreateChunkMapWork(std::shared_ptr<TransferWorkInterface> iface,
                                       std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(std::move(iface)), mapData_(std::move(mapData)) {
    RegisterTransferObservers(*this, *iface_);
}

void CreateChunkMapWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "CreateChunkMapWork", *iface_, *mapData_);
}

void CreateChunkMapWork::Reset() {
    SimpleWork::Reset();
    mapData_->view.reset();
}

WorkStatus CreateChunkMapWork::ExecuteTask() {
    try {
        const std::shared_ptr<SharedFile>& file = mapData_->fileData->file;
        if (!file) return MissingData("CreateChunkMapWork::ExecuteTask has no shared file");
        mapData_->view = file->Map(mapData_->lowerBound, mapData_->upperBound);
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return FileExceptionStatus();
    }
}

MutexPrefetchChunkWork::MutexPrefetchChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                               std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(std::move(iface)), mapData_(std::move(mapData)) {
    RegisterTransferObservers(*this, *iface_);
}

void MutexPrefetchChunkWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "MutexPrefetchChunkWork", *iface_, *mapData_);
}

WorkStatus MutexPrefetchChunkWork::ExecuteTask() {
    try {
        if (!mapData_->view) return MissingData("MutexPrefetchChunkWork::ExecuteTask has no shared map");
        if (mapData_->HoldsOnlyZeros()) {
            // Nothing on disk to read: the check is worked out from the length. A chunk that is not all zeros is
            // downloaded next, so its pages are brought in ready for the download's writes instead.
            if (mapData_->expectedChecksum != Crc32OfZeros(mapData_->Length())) mapData_->view->FetchForWriting();
            return WorkStatus(WorkResult::Success);
        }
        std::lock_guard lock(prefetchMutex);
        mapData_->view->Fetch();
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return FileExceptionStatus();
    }
}

VerifyChunkWork::VerifyChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                 std::shared_ptr<TransferSharedMapData> mapData,
                                 std::shared_ptr<OptimizedRequestChunkWork> download)
    : TransferWork(std::move(iface)), mapData_(std::move(mapData)), download_(std::move(download)) {
    RegisterTransferObservers(*this, *iface_);
}

void VerifyChunkWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "VerifyChunkWork", *iface_, *mapData_);
}

WorkStatus VerifyChunkWork::ExecuteTask() {
    try {
        if (!mapData_->view) return MissingData("VerifyChunkWork::ExecuteTask has no shared map");
        // What a download wrote is always read back; a range known to hold only zeros needs no reading.
        const std::uint32_t crc = !download_ && mapData_->HoldsOnlyZeros()
                                      ? Crc32OfZeros(mapData_->Length())
                                      : mapData_->view->Apply([](const std::uint8_t* data, std::uint32_t length) {
                                            return Crc32(data, length);
                                        });
        const bool intact = crc == mapData_->expectedChecksum;
        if (intact) {
            SettleChunkProgress(*mapData_);
        } else {
            DiscardChunk(*mapData_);
        }
        if (download_) download_->ReportVerification(intact);
        if (intact) return WorkStatus(WorkResult::Success);
        return WorkStatus(WorkResult::Failure, std::make_shared<ChecksumStatusData>(crc));
    } catch (...) {
        return FileExceptionStatus();
    }
}

RetryableTransferChunkWork::RetryableTransferChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                                       std::shared_ptr<HttpSession> session,
                                                       std::shared_ptr<TransferSharedMapData> mapData,
                                                       unsigned maxRetries)
    : TransferWork(std::move(iface)),
      LimitedRetrySequentialWork(maxRetries),
      mapData_(std::move(mapData)),
      request_(std::make_shared<OptimizedRequestChunkWork>(
          iface_, std::move(session), mapData_,
          ChunkRetryBudget(iface_->GetBehavior()->settings.requestRetries, *iface_))) {
    RegisterTransferObservers(*this, *iface_);
    AddWork(request_);
    AddWork(std::make_shared<VerifyChunkWork>(iface_, mapData_, request_));
}

void RetryableTransferChunkWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "RetryableTransferChunkWork", *iface_, *mapData_);
}

ConditionalTransferChunkWork::ConditionalTransferChunkWork(std::shared_ptr<TransferWorkInterface> iface,
                                                           std::shared_ptr<HttpSession> session,
                                                           std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(iface),
      ConditionalWork(std::make_shared<VerifyChunkWork>(iface, mapData), std::make_shared<NoOpWork>(),
                      std::make_shared<RetryableTransferChunkWork>(
                          iface, std::move(session), mapData,
                          ChunkRetryBudget(iface->GetBehavior()->settings.chunkRetries, *iface))),
      mapData_(std::move(mapData)) {
    RegisterTransferObservers(*this, *iface_);
}

void ConditionalTransferChunkWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "ConditionalTransferChunkWork", *iface_, *mapData_);
}

ReleaseChunkMapWork::ReleaseChunkMapWork(std::shared_ptr<TransferWorkInterface> iface,
                                         std::shared_ptr<TransferSharedMapData> mapData)
    : TransferWork(std::move(iface)), mapData_(std::move(mapData)) {
    RegisterTransferObservers(*this, *iface_);
}

void ReleaseChunkMapWork::Describe(ptree& out) const {
    DescribeChunkWork(out, "ReleaseChunkMapWork", *iface_, *mapData_);
}

WorkStatus ReleaseChunkMapWork::ExecuteTask() {
    mapData_->view.reset();
    return WorkStatus(WorkResult::Success);
}

}  // namespace qelt

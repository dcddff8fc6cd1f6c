#include "pipeline/transfer_single_file_work.h"

#include "manifest/file_manifest.h"
#include "pipeline/status_data.h"
#include "pipeline/transfer_single_chunk_work.h"
#include "pipeline/transfer_work_wiring.h"
#include "storage/file_exception.h"
#include "storage/shared_file.h"
#include "transfer/transfer_behavior.h"

namespace qelt {
namespace {

void DescribeFileWork(ptree& out, const char* name, bool important, TransferWorkInterface& iface,
                      const TransferSharedFileData& fileData) {
    DescribeTransferWork(out, name, important, iface);
    fileData.Describe(out);
}

}  // namespace

TransferSingleFileWork::TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> iface,
                                               std::shared_ptr<HttpSession> session, const FileManifest& file)
    : TransferWork(std::move(iface)),
      fileData_(std::make_shared<TransferSharedFileData>(file.GetPath(), file.GetSize())) {
    RegisterTransferObservers(*this, *iface_);
    chunks_ = std::make_shared<TransferMultipleChunksWork>(iface_, std::move(session), file, fileData_);
    AddWork(std::make_shared<OpenAndAllocateFileWork>(iface_, fileData_));
    AddWork(chunks_);
    AddWork(std::make_shared<CloseFileWork>(iface_, fileData_));
}

TransferSingleFileWork::~TransferSingleFileWork() {
    // Every step is attempted whatever the others did; nothing may leave a destructor.
    try {
        chunks_->ReleaseViews();
    } catch (...) {
    }
    fileData_->file.reset();
    try {
        iface_->RegisterCreatedFile(fileData_->filePath);
    } catch (...) {
    }
}

void TransferSingleFileWork::Describe(ptree& out) const {
    DescribeFileWork(out, "TransferSingleFileWork", true, *iface_, *fileData_);
}

void TransferSingleFileWork::Reset() {
    std::lock_guard lock(Mutex());
    SequentialWork::Reset();
    fileData_->file.reset();
    fileData_->allocatedFresh = false;
}

OpenAndAllocateFileWork::OpenAndAllocateFileWork(std::shared_ptr<TransferWorkInterface> iface,
                                                 std::shared_ptr<TransferSharedFileData> fileData)
    : TransferWork(std::move(iface)), fileData_(std::move(fileData)) {
    RegisterTransferObservers(*this, *iface_);
}

void OpenAndAllocateFileWork::Describe(ptree& out) const {
    DescribeFileWork(out, "OpenAndAllocateFileWork", true, *iface_, *fileData_);
}

void OpenAndAllocateFileWork::Reset() {
    SimpleWork::Reset();
    fileData_->file.reset();
    fileData_->allocatedFresh = false;
}

WorkStatus OpenAndAllocateFileWork::ExecuteTask() {
    fileData_->allocatedFresh = false;
    try {
        fileData_->file = OpenAndAllocate(true);
        return WorkStatus(WorkResult::Success);
    } catch (...) {
        return FileExceptionStatus();
    }
}

std::shared_ptr<SharedFile> OpenAndAllocateFileWork::OpenAndAllocate(bool allowDelete) {
    SharedFileFactory& files = *iface_->GetBehavior()->sharedFileFactory;
    const std::string& folder = iface_->Params()->destPath;
    const std::string& path = fileData_->filePath;
    const std::uint64_t size = fileData_->fileSize;

    // An empty file gets the upper bound 2^64 - 1 here, which leaves it nothing to map and nothing to write.
    std::shared_ptr<SharedFile> file = files.Open(folder, path, SharedFileMode::OpenOrCreate, 0, size - 1);
    // The right size already: a transfer resuming, whose chunks are verified in place.
    if (file->GetSize() == size) return file;
    if (file->Allocate(size)) {
        // Allocated from empty: every byte is a zero until a chunk writes there.
        fileData_->allocatedFresh = true;
        if (files.IsExecutable(folder, path)) file->DenyExecute();
        return file;
    }
    // It holds bytes of another size: start over with a new file, once.
    file.reset();
    if (allowDelete && files.Delete(folder, path)) return OpenAndAllocate(false);
    throw FileInUseException();
}

TransferMultipleChunksWork::TransferMultipleChunksWork(std::shared_ptr<TransferWorkInterface> iface,
                                                       std::shared_ptr<HttpSession> session,
                                                       const FileManifest& file,
                                                       std::shared_ptr<TransferSharedFileData> fileData)
    : TransferWork(std::move(iface)), fileData_(std::move(fileData)) {
    RegisterTransferObservers(*this, *iface_);
    const std::uint32_t count = ChunkCount(file.GetChunkSize(), file.GetSize());
    chunks_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const ChunkRange range = GetChunkRange(file.GetChunkSize(), file.GetSize(), i);
        chunks_.push_back(std::make_shared<TransferSingleChunkWork>(iface_, session, fileData_, range.lowerBound,
                                                                    range.upperBound, file.GetChecksums()[i]));
        AddWork(chunks_.back());
    }
}

void TransferMultipleChunksWork::Describe(ptree& out) const {
    DescribeFileWork(out, "TransferMultipleChunksWork", false, *iface_, *fileData_);
}

void TransferMultipleChunksWork::ReleaseViews() {
    for (const auto& chunk : chunks_)
        chunk->ReleaseView();
}

CloseFileWork::CloseFileWork(std::shared_ptr<TransferWorkInterface> iface,
                             std::shared_ptr<TransferSharedFileData> fileData)
    : TransferWork(std::move(iface)), fileData_(std::move(fileData)) {
    RegisterTransferObservers(*this, *iface_);
}

void CloseFileWork::Describe(ptree& out) const {
    DescribeFileWork(out, "CloseFileWork", false, *iface_, *fileData_);
}

WorkStatus CloseFileWork::ExecuteTask() {
    fileData_->file.reset();
    return WorkStatus(WorkResult::Success);
}

}  // namespace qelt

#pragma once

#include <memory>
#include <vector>

#include "transfer/transfer_work.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"

namespace qelt {

class FileManifest;
class HttpSession;
class SharedFile;
class TransferMultipleChunksWork;
class TransferSharedFileData;
class TransferSingleChunkWork;

// One file of the package: open and pre-size it, move every chunk, close it.
//
//   TransferSingleFileWork
//     OpenAndAllocateFileWork
//     TransferMultipleChunksWork: one TransferSingleChunkWork per chunk
//     CloseFileWork
//
// When the work is destroyed it unmaps every chunk, lets go of the file and reports the file's path to the
// transfer (RegisterCreatedFile), which decides whether the file stays. The tree is destroyed only after the
// workflow that holds it is gone, and a running leaf's task keeps that workflow alive, so no chunk work of the
// file still runs by then.
class TransferSingleFileWork : public TransferWork, public SequentialWork {
public:
    TransferSingleFileWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                           const FileManifest& file);
    ~TransferSingleFileWork() override;

    void Describe(ptree& out) const override;
    void Reset() override;

    const std::shared_ptr<TransferSharedFileData>& FileData() const { return fileData_; }

private:
    const std::shared_ptr<TransferSharedFileData> fileData_;
    std::shared_ptr<TransferMultipleChunksWork> chunks_;
};

// Opens the destination file and gives it its size. An existing file of the right size is used as it is (its
// chunks are then verified in place); a fresh one is pre-allocated and, when it is a program, kept from being run
// until the package is complete; one of another size is deleted and created again once.
class OpenAndAllocateFileWork : public TransferWork, public SimpleWork {
public:
    OpenAndAllocateFileWork(std::shared_ptr<TransferWorkInterface> iface,
                            std::shared_ptr<TransferSharedFileData> fileData);

    void Describe(ptree& out) const override;
    void Reset() override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    // Throws FileInUseException when a file of another size can be neither re-allocated nor deleted.
    std::shared_ptr<SharedFile> OpenAndAllocate(bool allowDelete);

    const std::shared_ptr<TransferSharedFileData> fileData_;
};

// Every chunk of one file at once, as far as the workflow lets them run.
class TransferMultipleChunksWork : public TransferWork, public ParallelWork {
public:
    TransferMultipleChunksWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<HttpSession> session,
                               const FileManifest& file, std::shared_ptr<TransferSharedFileData> fileData);

    void Describe(ptree& out) const override;
    // Unmaps every chunk's view.
    void ReleaseViews();

    const std::vector<std::shared_ptr<TransferSingleChunkWork>>& Chunks() const { return chunks_; }

private:
    const std::shared_ptr<TransferSharedFileData> fileData_;
    std::vector<std::shared_ptr<TransferSingleChunkWork>> chunks_;
};

// Lets go of the file; it closes once the last chunk view is gone.
class CloseFileWork : public TransferWork, public SimpleWork {
public:
    CloseFileWork(std::shared_ptr<TransferWorkInterface> iface, std::shared_ptr<TransferSharedFileData> fileData);

    void Describe(ptree& out) const override;
    WorkStatus ExecuteTask() override;
    void Cancel() override {}

private:
    const std::shared_ptr<TransferSharedFileData> fileData_;
};

}  // namespace qelt

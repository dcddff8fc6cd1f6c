#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "storage/shared_file.h"

namespace qelt {

class PosixMemoryMap;

// A file opened with open(2), read-write. Other handles and processes may use the file at the same time (POSIX
// has no sharing modes to set). Views are mmap(MAP_SHARED) views of one lazily created mapping.
class PosixSharedFile : public SharedFile {
public:
    // Opens `path` (already resolved, parent folders already made) with the creation rule of `mode` and moves to
    // lowerBound. A failure throws the mapped file error; no half-open object exists.
    PosixSharedFile(std::string path, SharedFileMode mode, std::uint64_t lowerBound, std::uint64_t upperBound);
    ~PosixSharedFile() override;

    std::uint64_t Tell() override;
    void Seek(std::uint64_t position) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    std::uint64_t GetSize() override;
    bool Allocate(std::uint64_t size) override;
    // Sets an execute bit wherever the matching read bit is set (r -> x).
    bool AllowExecute() override;
    // Clears every execute bit.
    bool DenyExecute() override;
    std::shared_ptr<MemoryMappedFileData> MapAll() override;
    std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) override;
    void Flush() override;

    const std::string& Path() const { return path_; }

private:
    // Throws FileOutOfBoundsException unless first <= last and both lie inside the bounds.
    void CheckRange(std::uint64_t first, std::uint64_t last) const;
    // The same for the `count` (> 0) bytes at the current position.
    void CheckAtPosition(std::uint64_t count);

    std::uint64_t lowerBound_;
    std::uint64_t upperBound_;
    int handle_ = -1;
    std::shared_ptr<PosixMemoryMap> mapping_;
    // Guards the creation of mapping_.
    std::mutex mappingLock_;
    std::string path_;
};

class PosixSharedFileFactory : public SharedFileFactory {
public:
    std::shared_ptr<SharedFile> Open(const std::string& folder, const std::string& path, SharedFileMode mode,
                                     std::uint64_t lowerBound, std::uint64_t upperBound) override;
    bool Delete(const std::string& folder, const std::string& path) override;
    // rename(2), then a sync of the folder so that the new name itself survives a power loss.
    void Replace(const std::string& folder, const std::string& from, const std::string& to) override;
    // True for the extensions ".exe", ".bat", ".com", ".cmd", ".msi" and ".vbs" (case-sensitive), and for a file
    // that starts with an ELF header or "#!": programs this platform runs without an extension.
    bool IsExecutable(const std::string& folder, const std::string& path) override;
};

}  // namespace qelt

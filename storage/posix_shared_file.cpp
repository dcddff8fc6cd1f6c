#include "storage/posix_shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "storage/file_exception.h"
#include "storage/posix_file_error.h"
#include "storage/posix_memory_map.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kMaxReadBytes = 4096;
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
constexpr mode_t kExecuteBits = S_IXUSR | S_IXGRP | S_IXOTH;

int CreationFlags(SharedFileMode mode) {
    switch (mode) {
        case SharedFileMode::CreateNew:
            return O_CREAT | O_EXCL;
        case SharedFileMode::OpenExisting:
            return 0;
        case SharedFileMode::OpenOrCreate:
        default:
            return O_CREAT;
    }
}

void CreateParentFolders(const std::string& fullPath) {
    std::error_code error;
    fs::create_directories(fs::path(fullPath).parent_path(), error);
    if (!error) return;
    switch (ClassifyPosixFileError(error.value())) {
        case FileErrorKind::Inaccessible:
            throw FileInaccessibleException();
        case FileErrorKind::InsufficientSpace:
            throw FileInsufficientSpaceException();
        default:
            throw FileBadPathException();
    }
}

bool StartsLikeProgram(const std::string& fullPath) {
    // O_NONBLOCK so that a FIFO of that name cannot stall the caller.
    const int handle = open(fullPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (handle < 0) return false;
    struct stat info {};
    char head[4] = {};
    ssize_t got = 0;
    if (fstat(handle, &info) == 0 && S_ISREG(info.st_mode)) {
        do {
            got = pread(handle, head, sizeof head, 0);
        } while (got < 0 && errno == EINTR);
    }
    close(handle);
    if (got >= 4 && std::memcmp(head,
                                "\x7f"
                                "ELF",
                                4) == 0) {
        return true;
    }
    return got >= 2 && head[0] == '#' && head[1] == '!';
}

}  // namespace

PosixSharedFile::PosixSharedFile(std::string path, SharedFileMode mode, std::uint64_t lowerBound,
                                 std::uint64_t upperBound)
    : lowerBound_(lowerBound), upperBound_(upperBound), path_(std::move(path)) {
    if (lowerBound_ > upperBound_) throw FileOutOfBoundsException();
    // 0666 before the umask: files are created without execute bits.
    do {
        handle_ = open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | CreationFlags(mode), 0666);
    } while (handle_ < 0 && errno == EINTR);
    if (handle_ < 0) ThrowLastFileError();
    try {
        Seek(lowerBound_);
    } catch (...) {
        close(handle_);
        throw;
    }
}

PosixSharedFile::~PosixSharedFile() {
    mapping_.reset();
    close(handle_);
}

void PosixSharedFile::CheckRange(std::uint64_t first, std::uint64_t last) const {
    if (first > last || first < lowerBound_ || last > upperBound_) throw FileOutOfBoundsException();
}

void PosixSharedFile::CheckAtPosition(std::uint64_t count) {
    const std::uint64_t position = Tell();
    // The position is an off_t, so adding a 32-bit count cannot wrap.
    CheckRange(position, position + count - 1);
}

std::uint64_t PosixSharedFile::Tell() {
    const off_t position = lseek(handle_, 0, SEEK_CUR);
    if (position < 0) ThrowLastFileError();
    return static_cast<std::uint64_t>(position);
}

void PosixSharedFile::Seek(std::uint64_t position) {
    if (position < lowerBound_ || position > upperBound_) throw FileOutOfBoundsException();
    if (position > kMaxOffset) ThrowPosixFileError(EINVAL);
    if (lseek(handle_, static_cast<off_t>(position), SEEK_SET) < 0) ThrowLastFileError();
}

std::uint32_t PosixSharedFile::Read(void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    const std::uint32_t n = std::min(count, kMaxReadBytes);
    CheckAtPosition(n);
    ssize_t got;
    do {
        got = read(handle_, buffer, n);
    } while (got < 0 && errno == EINTR);
    if (got < 0) ThrowLastFileError();
    return static_cast<std::uint32_t>(got);
}

std::uint32_t PosixSharedFile::Write(const void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    CheckAtPosition(count);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint32_t written = 0;
    while (written < count) {
        const ssize_t put = write(handle_, bytes + written, count - written);
        if (put < 0) {
            if (errno == EINTR) continue;
            ThrowLastFileError();
        }
        // write(2) answers 0 only when nothing more fits.
        if (put == 0) throw FileInsufficientSpaceException();
        written += static_cast<std::uint32_t>(put);
    }
    return written;
}

std::uint64_t PosixSharedFile::GetSize() {
    struct stat info {};
    if (fstat(handle_, &info) != 0) ThrowLastFileError();
    return static_cast<std::uint64_t>(info.st_size);
}

bool PosixSharedFile::Allocate(std::uint64_t size) {
    if (GetSize() != 0) return false;
    if (size == 0) return true;
    CheckRange(0, size - 1);
    if (size > kMaxOffset) throw FileInsufficientSpaceException();
    int error;
    do {
        error = posix_fallocate(handle_, 0, static_cast<off_t>(size));
    } while (error == EINTR);
    if (error != 0) {
        // A failed reservation may have grown the file part way; leave it empty so that a later retry (a full
        // disk is retried) allocates afresh instead of finding a file "already holding bytes".
        if (ftruncate(handle_, 0) != 0) {
            // Nothing better to report than the original error.
        }
        ThrowPosixFileError(error);
    }
    Seek(0);
    return true;
}

bool PosixSharedFile::AllowExecute() {
    struct stat info {};
    if (fstat(handle_, &info) != 0) return false;
    const mode_t readBits = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    // r -> x: each read bit sits two places above its execute bit.
    return fchmod(handle_, (info.st_mode & 07777) | (readBits >> 2)) == 0;
}

bool PosixSharedFile::DenyExecute() {
    struct stat info {};
    if (fstat(handle_, &info) != 0) return false;
    return fchmod(handle_, info.st_mode & 07777 & ~kExecuteBits) == 0;
}

std::shared_ptr<MemoryMappedFileData> PosixSharedFile::MapAll() {
    return Map(lowerBound_, upperBound_);
}

std::shared_ptr<MemoryMappedFileData> PosixSharedFile::Map(std::uint64_t first, std::uint64_t last) {
    CheckRange(first, last);
    if (last - first >= std::numeric_limits<std::uint32_t>::max()) ThrowBadAllocation();
    // Pages past the end of the file would fault on first touch; a view never reaches there.
    if (last >= GetSize()) throw FileInvalidMapException();
    std::shared_ptr<PosixMemoryMap> mapping;
    {
        std::lock_guard lock(mappingLock_);
        if (!mapping_) mapping_ = std::make_shared<PosixMemoryMap>(handle_);
        mapping = mapping_;
    }
    return mapping->CreateView(first, last);
}

void PosixSharedFile::Flush() {
    int result;
    do {
        result = fdatasync(handle_);
    } while (result != 0 && errno == EINTR);
    if (result != 0) ThrowLastFileError();
}

std::shared_ptr<SharedFile> PosixSharedFileFactory::Open(const std::string& folder, const std::string& path,
                                                         SharedFileMode mode, std::uint64_t lowerBound,
                                                         std::uint64_t upperBound) {
    if (lowerBound > upperBound) throw FileOutOfBoundsException();
    std::string fullPath = FormSharedFilePath(folder, path);
    if (mode == SharedFileMode::OpenOrCreate || mode == SharedFileMode::CreateNew) CreateParentFolders(fullPath);
    return std::make_shared<PosixSharedFile>(std::move(fullPath), mode, lowerBound, upperBound);
}

bool PosixSharedFileFactory::Delete(const std::string& folder, const std::string& path) {
    try {
        return unlink(FormSharedFilePath(folder, path).c_str()) == 0;
    } catch (...) {
        return false;
    }
}

void PosixSharedFileFactory::Replace(const std::string& folder, const std::string& from, const std::string& to) {
    const std::string source = FormSharedFilePath(folder, from);
    const std::string target = FormSharedFilePath(folder, to);
    if (rename(source.c_str(), target.c_str()) != 0) ThrowLastFileError();
    // The rename is done; a folder that cannot be synced only loses durability, not the replacement.
    const int handle = open(fs::path(target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) return;
    fsync(handle);
    close(handle);
}

bool PosixSharedFileFactory::IsExecutable(const std::string& folder, const std::string& path) {
    if (HasExecutableExtension(path)) return true;
    try {
        return StartsLikeProgram(FormSharedFilePath(folder, path));
    } catch (...) {
        return false;
    }
}

}  // namespace qelt

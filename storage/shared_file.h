#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "storage/bounded_file_data.h"

namespace qelt {

// How SharedFileFactory::Open treats an existing or missing file. Other values open or create the file without
// creating folders.
enum class SharedFileMode : std::int32_t {
    OpenOrCreate = 0,  // parent folders created; the file opened when it exists, else created
    CreateNew = 1,     // parent folders created; FileInUseException when the file exists
    OpenExisting = 2,  // folders not touched; FileBadPathException when the file is missing
};

// The upper bound of a file that may be used whole.
inline constexpr std::uint64_t kUnboundedUpperBound = std::numeric_limits<std::uint64_t>::max();

// An open file, readable and writable, restricted to a window of byte offsets [lowerBound, upperBound]. Other
// handles and processes may use the same file at the same time.
//
// Tell, Seek, Read and Write share the handle's single position and are not synchronised: a file shared by many
// threads is used through its views (Map), each with its own cursor. Map may be called from many threads at once.
// Every failed platform call throws a FileException (or std::bad_alloc for lack of memory).
class SharedFile : public BoundedFileData {
public:
    // The file's current size in bytes.
    virtual std::uint64_t GetSize() = 0;
    // Pre-allocates an empty file to `size` bytes with the position left at 0. Returns false, changing nothing,
    // when the file is not empty. The space is reserved on the medium now, so a full disk is reported here
    // (FileInsufficientSpaceException, the file left empty) and never later while the bytes are written.
    virtual bool Allocate(std::uint64_t size) = 0;
    // Makes the file runnable again after DenyExecute; true on success.
    virtual bool AllowExecute() = 0;
    // Keeps the file from being run while it is incomplete; true on success.
    virtual bool DenyExecute() = 0;
    // A view of [lowerBound, upperBound].
    virtual std::shared_ptr<MemoryMappedFileData> MapAll() = 0;
    // A view of [first, last]. The range must lie inside the bounds (FileOutOfBoundsException), be at most 2^32
    // bytes long (std::bad_alloc "bad allocation") and end before the end of the file (FileInvalidMapException).
    // A view stays valid after the file object is gone.
    virtual std::shared_ptr<MemoryMappedFileData> Map(std::uint64_t first, std::uint64_t last) = 0;
    // Writes the file's bytes through to the medium, so that they survive a power loss.
    virtual void Flush() = 0;
};

// Opens every file the program reads or writes. Stateless; created once and shared by every user.
class SharedFileFactory {
public:
    SharedFileFactory() = default;
    SharedFileFactory(const SharedFileFactory&) = delete;
    SharedFileFactory& operator=(const SharedFileFactory&) = delete;
    virtual ~SharedFileFactory() = default;

    // Opens `path` resolved against `folder` (an absolute path is used as it is) with the position at lowerBound.
    // FileOutOfBoundsException when lowerBound > upperBound, before the disk is touched.
    virtual std::shared_ptr<SharedFile> Open(const std::string& folder, const std::string& path,
                                             SharedFileMode mode, std::uint64_t lowerBound,
                                             std::uint64_t upperBound) = 0;
    // True when the file was deleted; never throws.
    virtual bool Delete(const std::string& folder, const std::string& path) = 0;
    // Puts the file `from` in the place of `to` in one step, replacing `to` when it exists: whoever opens `to`
    // finds the old file or the new one whole, also after a crash. Both are resolved against `folder` and must lie
    // on one volume. Throws the file error of the failure, `to` left as it was.
    virtual void Replace(const std::string& folder, const std::string& from, const std::string& to) = 0;
    // Whether the file is a program, judged by the extension of `path` and, where the platform runs programs
    // without one, by the file's first bytes. Never throws.
    virtual bool IsExecutable(const std::string& folder, const std::string& path) = 0;
};

// `path` resolved against `folder` made absolute: an absolute path is kept, a relative one appended with one
// separator. FileBadPathException when that is impossible, when either holds a NUL or when `path` is empty.
std::string FormSharedFilePath(const std::string& folder, const std::string& path);

// The extension rule of IsExecutable alone: the text from the last "." of the final component.
bool HasExecutableExtension(const std::string& path);

}  // namespace qelt

#pragma once

#include <cstdint>
#include <exception>

namespace qelt {

// Failures of file operations. The classes carry no text of their own: callers (the transfer store, the transfer
// error classification) decide by class alone.
class FileException : public std::exception {};

// The path cannot be formed, does not exist, or is malformed.
class FileBadPathException : public FileException {};
// Access is denied or the medium is write-protected.
class FileInaccessibleException : public FileException {};
// The file is locked, busy or already exists.
class FileInUseException : public FileException {};
// The disk is full or the file too large.
class FileInsufficientSpaceException : public FileException {};
// A mapping or view cannot be made, or its bytes cannot be read or written.
class FileInvalidMapException : public FileException {};
// A range lies outside a file's or a view's bounds.
class FileOutOfBoundsException : public FileException {};
// Any other platform error.
class FileUnknownException : public FileException {};

// What a platform error code means for a file operation; each platform's table maps its codes onto these.
enum class FileErrorKind : std::uint8_t {
    BadPath,            // FileBadPathException
    Inaccessible,       // FileInaccessibleException
    OutOfMemory,        // std::bad_alloc with the message "bad allocation" (not a FileException)
    InUse,              // FileInUseException
    InsufficientSpace,  // FileInsufficientSpaceException
    InvalidMap,         // FileInvalidMapException
    Unknown,            // FileUnknownException
};

// Throws the exception of `kind`.
[[noreturn]] void ThrowFileError(FileErrorKind kind);

// Throws a std::bad_alloc whose what() is "bad allocation": the allocation failure reported for out-of-memory
// platform errors and for views or mappings longer than 32 bits.
[[noreturn]] void ThrowBadAllocation();

// Reads the calling thread's last platform error and throws its exception. Call it right after a failed platform
// file call (open, read, write, position, size, end of file, mapping, view), before anything else can overwrite
// the error.
[[noreturn]] void ThrowLastFileError();

}  // namespace qelt

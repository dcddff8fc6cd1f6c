#pragma once

#include "storage/file_exception.h"

namespace qelt {

// The errno table: the one place where POSIX error numbers become file errors.
FileErrorKind ClassifyPosixFileError(int error);

// Throws the exception of an errno value (for calls such as posix_fallocate that return the error number).
[[noreturn]] void ThrowPosixFileError(int error);

}  // namespace qelt

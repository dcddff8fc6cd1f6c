#pragma once

#include <cstdint>

#include "storage/file_exception.h"

namespace qelt {

// The Windows system error code table, kept beside the POSIX one so that both platforms classify alike. A pure
// function: it is built and tested on every platform.
FileErrorKind ClassifyWindowsFileError(std::uint32_t code);

}  // namespace qelt

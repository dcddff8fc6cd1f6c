#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "storage/bounded_file_data.h"

namespace qelt {

// Guards accesses to a memory-mapped region against SIGBUS, which the kernel raises when a mapped page cannot be
// brought in: an I/O error, or a file cut shorter by someone else so that the page now lies past its end. Each
// function answers false when such a fault hit [region, region + regionLength) during the call, and the caller
// reports FileInvalidMapException. Faults anywhere else, and SIGSEGV, are left to whoever handled them before
// (by default they end the process: they are bugs).
//
// The handler is installed once per process, on first use, in front of the previous SIGBUS handler. The guard
// state is per thread, so any number of threads may run guarded accesses at once.

// memcpy(to, from, count) where `to` or `from` lies in the region.
bool GuardedCopy(void* to, const void* from, std::size_t count, const void* region, std::size_t regionLength);

// Reads one byte at every `stride` bytes of [data, data + length), so that each page is brought into memory.
bool GuardedTouch(const std::uint8_t* data, std::size_t length, std::size_t stride, const void* region,
                  std::size_t regionLength);

// result = function(data, length). The function is the caller's, so it is never abandoned half way (a jump out of
// it would skip its destructors and leave its locks held): a page that faults is replaced by a private page of
// zeros and the function runs to its end over it. `broken` is set before the first page is replaced, so that
// other users of the region can tell, even while the function still runs: from then on the region no longer
// reflects the file there and must not be used again. Exceptions of the function propagate, except after a
// fault: the answer is then false.
bool GuardedApply(const MappedDataFunction& function, const std::uint8_t* data, std::uint32_t length,
                  const void* region, std::size_t regionLength, std::atomic<bool>& broken, std::uint32_t& result);

}  // namespace qelt

#pragma once

#include <cstddef>

namespace qelt::bench {

// Bytes of heap the allocator has handed out and not had back.
std::size_t HeapBytesInUse();
// The process's peak resident set so far, in KiB.
long PeakResidentKiB();

}  // namespace qelt::bench

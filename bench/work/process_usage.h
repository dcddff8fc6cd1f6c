#pragma once

#include <cstddef>

namespace qelt::bench {

// Bytes of heap the allocator has handed out and not had back.
std::size_t HeapBytesInUse();
// The process's peak resident set so far, in KiB.
long PeakResidentKiB();

// CPU time of every thread of the process so far and the number of times its threads were switched out.
struct CpuUsage {
    double seconds = 0;
    long switches = 0;
};
CpuUsage ProcessCpuUsage();

}  // namespace qelt::bench

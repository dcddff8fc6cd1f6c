#include <malloc.h>
#include <sys/resource.h>

#include "bench/work/memory_usage.h"

namespace qelt::bench {

std::size_t HeapBytesInUse() {
    return mallinfo2().uordblks;
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace qelt::bench

#include <malloc.h>
#include <sys/resource.h>

#include "bench/work/process_usage.h"

namespace qelt::bench {
namespace {

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

}  // namespace

std::size_t HeapBytesInUse() {
    return mallinfo2().uordblks;
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

CpuUsage ProcessCpuUsage() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {Seconds(usage.ru_utime) + Seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

}  // namespace qelt::bench

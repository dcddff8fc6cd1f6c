#include <sys/resource.h>

#include "tests/support/peak_memory.h"

namespace qelt::test {

long PeakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace qelt::test

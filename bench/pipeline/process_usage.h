#pragma once

#include <string>
#include <vector>

namespace qelt::bench {

// What one run of a phase cost: wall seconds, CPU seconds of every thread (user and system) and the highest
// resident set, in KiB, reached meanwhile.
struct PhaseUsage {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

// CPU seconds used by every thread of this process so far.
double ProcessCpuSeconds();

// Starts a new peak for PeakResidentKiB: from now on it reports the highest resident set reached after this call.
void ResetPeakResident();
// This process's highest resident set since the last ResetPeakResident (or since it started), in KiB. Pages of
// files mapped by the process count while they are resident and mapped.
long PeakResidentKiB();

// Runs a program (found on PATH when the name has no slash) with its standard output sent to /dev/null unless
// `quiet` is false, waits for it and returns its usage; `exitCode` is its exit status, or -1 when it could not be
// started or was killed by a signal. Its standard error is this process's. Its peak resident set starts from
// this process's at the moment it was started.
struct ChildRun {
    PhaseUsage usage;
    int exitCode = -1;
};
ChildRun RunChild(const std::vector<std::string>& arguments, bool quiet = true);

}  // namespace qelt::bench

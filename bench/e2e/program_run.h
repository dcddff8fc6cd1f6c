#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qelt::bench {

// What one run of a program cost: wall seconds, CPU seconds of all its threads (user and system), its peak
// resident set (VmHWM: anonymous pages plus the pages of mapped files, such as files written through a mapping)
// and its peak anonymous resident set (RssAnon, sampled every few milliseconds, since the kernel keeps no
// high-water mark of it), in KiB.
struct ProgramUsage {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakRssKiB = 0;
    long peakAnonKiB = 0;
};

struct ProgramRun {
    ProgramUsage usage;
    int exitCode = -1;  // -1 when it could not be started
    std::string err;    // the end of its standard error
};

// Runs `arguments` (the program found on PATH when its name has no slash) with exactly `environment`, its
// standard output and error in files under `scratch`, and waits for it. On SIGINT or SIGTERM of this process
// the program is stopped and Interrupted() turns true.
ProgramRun RunMeasured(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                       const std::filesystem::path& scratch);

// CPU seconds used so far by the running children of the process whose id `pidFile` holds (nginx's workers).
double ChildrenCpuSeconds(const std::filesystem::path& pidFile);

// Catches SIGINT and SIGTERM from now on, so that the benchmark can stop its program and nginx and clean up.
void CatchInterrupts();
bool Interrupted();

}  // namespace qelt::bench

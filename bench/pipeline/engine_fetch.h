#pragma once

#include <filesystem>
#include <string>

#include "app/transfer_settings.h"
#include "bench/pipeline/process_usage.h"
#include "transfer/transfer_status.h"
#include "work/work_status.h"

namespace qelt::bench {

// The identifiers the benchmark publishes its package under.
inline const char kPartnerId[] = "bench-partner";
inline const char kPackageId[] = "bench-package";
inline const char kVersionId[] = "1";

// The program's own settings: processors + 2 leaves in flight, twice as many pool threads.
TransferSettings DefaultSettings();

// The outcome of one fetch of the package by the engine.
struct EngineFetch {
    PhaseUsage usage;
    WorkResult result = WorkResult::FatalError;
    std::string failure;  // what went wrong, empty on success
    TransferStatus status;
};

// Fetches the current version of the package from the manifest host into `destination` through one whole work
// tree (initialisation, files, chunks) under a real workflow and pool, with the program's default settings. The
// usage covers building the tree, running it and letting it go (its files closed), not the start of the pool.
EngineFetch FetchWithEngine(const std::string& manifestHost, const std::filesystem::path& destination);

}  // namespace qelt::bench

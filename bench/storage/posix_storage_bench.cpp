// Writes a pre-allocated file through 1 MiB views from several threads, then computes the CRC-32 of every view
// through Apply, as the chunk works do. Prints one "name seconds MiB/s" line per phase.
//
//   qelt_storage_bench <folder> [size MiB = 1024] [threads = 4] [view MiB = 1]

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "manifest/crc32.h"
#include "storage/posix_shared_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Report(const char* name, double seconds, std::uint64_t bytes) {
    std::printf("%s %.3f %.1f\n", name, seconds, static_cast<double>(bytes) / (1 << 20) / seconds);
}

// Runs body(viewIndex) for every view, spread over `threads` threads in contiguous runs of views.
template <typename Body>
void ForEachView(unsigned threads, std::uint64_t views, Body body) {
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([=] {
            for (std::uint64_t v = views * t / threads; v < views * (t + 1) / threads; ++v)
                body(v);
        });
    }
    for (auto& thread : pool)
        thread.join();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [size MiB] [threads] [view MiB]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::uint64_t sizeMiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 4;
    const std::uint64_t viewBytes = (argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1) << 20;
    const std::uint64_t size = sizeMiB << 20;
    const std::uint64_t views = size / viewBytes;

    std::vector<std::uint8_t> source(viewBytes);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));

    qelt::PosixSharedFileFactory factory;
    const std::string name = "views.bin";
    try {
        auto file = factory.Open(folder, name, qelt::SharedFileMode::OpenOrCreate, 0, size - 1);
        auto start = Clock::now();
        if (!file->Allocate(size)) {
            std::fprintf(stderr, "%s/%s already holds bytes\n", folder.c_str(), name.c_str());
            return 1;
        }
        Report("allocate", Seconds(start), size);

        start = Clock::now();
        ForEachView(threads, views, [&](std::uint64_t v) {
            auto view = file->Map(v * viewBytes, (v + 1) * viewBytes - 1);
            view->Write(source.data(), static_cast<std::uint32_t>(viewBytes));
        });
        const double writeSeconds = Seconds(start);
        Report("views-write", writeSeconds, size);

        start = Clock::now();
        std::atomic<std::uint32_t> mismatches{0};
        const std::uint32_t expected = qelt::Crc32(source.data(), source.size());
        ForEachView(threads, views, [&](std::uint64_t v) {
            auto view = file->Map(v * viewBytes, (v + 1) * viewBytes - 1);
            view->Fetch();
            const std::uint32_t crc = view->Apply(
                [](const std::uint8_t* data, std::uint32_t length) { return qelt::Crc32(data, length); });
            if (crc != expected) ++mismatches;
        });
        Report("views-crc", Seconds(start), size);
        if (mismatches) {
            std::fprintf(stderr, "%u views with a wrong CRC\n", mismatches.load());
            return 1;
        }

        // The views leave the pages dirty in the page cache, like dd without fsync; this is the rest of the way.
        start = Clock::now();
        file.reset();
        const std::string path = folder + "/" + name;
        const int handle = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (handle < 0 || fdatasync(handle) != 0) std::perror("fdatasync");
        if (handle >= 0) close(handle);
        Report("views-write+fsync", writeSeconds + Seconds(start), size);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::filesystem::remove(folder + "/" + name);
    return 0;
}

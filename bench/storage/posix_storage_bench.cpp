// Writes pre-allocated files through views from several threads, as the chunk works do (map a chunk, optionally
// page it in, copy the bytes in; paging in alone shows what Fetch costs on a freshly allocated range), then
// computes the CRC-32 of every view through Apply with the file's pages in the page cache (warm) and after they
// were written out and dropped from it (cold). pwrite of the same bytes into a file allocated the same way, in the
// same run, is the reference. Each phase runs `repeats` times on a fresh file; the median is printed, as "phase
// seconds MiB/s cpu-seconds".
//
//   qelt_storage_bench <folder> [size MiB = 1024] [threads = 4] [view KiB = 1024] [repeats = 3]

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "manifest/crc32.h"
#include "storage/posix_shared_file.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
    double seconds = 0;
    double cpuSeconds = 0;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs body(viewIndex) for every view, spread over `threads` threads in contiguous runs of views.
Timing ForEachView(unsigned threads, std::uint64_t views, const std::function<void(std::uint64_t)>& body) {
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([=, &body] {
            for (std::uint64_t v = views * t / threads; v < views * (t + 1) / threads; ++v)
                body(v);
        });
    }
    for (auto& thread : pool)
        thread.join();
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpuBefore};
}

// Writes the file out and drops its pages from the page cache, so that the next reads come from the disk.
bool DropFromCache(const std::string& path) {
    const int handle = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) return false;
    const bool dropped = fdatasync(handle) == 0 && posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(handle);
    return dropped;
}

class Bench {
public:
    Bench(std::string folder, std::uint64_t size, unsigned threads, std::uint64_t viewBytes)
        : folder_(std::move(folder)), size_(size), threads_(threads), viewBytes_(viewBytes), source_(viewBytes) {
        for (std::size_t i = 0; i < source_.size(); ++i)
            source_[i] = static_cast<std::uint8_t>(i * 131 + (i >> 12));
        expected_ = qelt::Crc32(source_.data(), source_.size());
    }

    // One round of every phase on fresh files; adds a timing per phase.
    void Round(std::map<std::string, std::vector<Timing>>& timings) {
        timings["pwrite"].push_back(WritePhase(Mode::Pwrite));
        timings["views-fetch"].push_back(WritePhase(Mode::FetchOnly));
        timings["views-write"].push_back(WritePhase(Mode::Write));
        timings["views-fetch+write"].push_back(WritePhase(Mode::FetchAndWrite));
        timings["views-crc-warm"].push_back(CrcPhase());
        if (DropFromCache(Path())) {
            timings["views-crc-cold"].push_back(CrcPhase());
        } else {
            std::fprintf(stderr, "cannot drop %s from the page cache: no cold phase\n", Path().c_str());
        }
    }

private:
    std::string Path() const { return folder_ + "/" + kName; }

    std::shared_ptr<qelt::SharedFile> FreshFile() {
        std::filesystem::remove(Path());
        auto file = factory_.Open(folder_, kName, qelt::SharedFileMode::OpenOrCreate, 0, size_ - 1);
        if (!file->Allocate(size_)) throw std::runtime_error("the fresh file already holds bytes");
        return file;
    }

    enum class Mode { Pwrite, FetchOnly, Write, FetchAndWrite };

    // Over a freshly allocated file.
    Timing WritePhase(Mode mode) {
        auto file = FreshFile();
        const int handle = mode == Mode::Pwrite ? open(Path().c_str(), O_WRONLY | O_CLOEXEC) : -1;
        const Timing timing = ForEachView(threads_, size_ / viewBytes_, [&](std::uint64_t v) {
            const std::uint64_t first = v * viewBytes_;
            if (mode == Mode::Pwrite) {
                if (pwrite(handle, source_.data(), viewBytes_, static_cast<off_t>(first)) !=
                    static_cast<ssize_t>(viewBytes_))
                    throw std::runtime_error("short pwrite");
                return;
            }
            auto view = file->Map(first, first + viewBytes_ - 1);
            if (mode != Mode::Write) view->Fetch();
            if (mode != Mode::FetchOnly) view->Write(source_.data(), static_cast<std::uint32_t>(viewBytes_));
        });
        if (handle >= 0) close(handle);
        return timing;
    }

    // Over the file the last write phase left.
    Timing CrcPhase() {
        auto file = factory_.Open(folder_, kName, qelt::SharedFileMode::OpenExisting, 0, size_ - 1);
        std::atomic<std::uint32_t> mismatches{0};
        const Timing timing = ForEachView(threads_, size_ / viewBytes_, [&](std::uint64_t v) {
            auto view = file->Map(v * viewBytes_, (v + 1) * viewBytes_ - 1);
            view->Fetch();
            const std::uint32_t crc = view->Apply(
                [](const std::uint8_t* data, std::uint32_t length) { return qelt::Crc32(data, length); });
            if (crc != expected_) ++mismatches;
        });
        if (mismatches) throw std::runtime_error(std::to_string(mismatches.load()) + " views with a wrong CRC");
        return timing;
    }

    static constexpr const char* kName = "views.bin";
    const std::string folder_;
    const std::uint64_t size_;
    const unsigned threads_;
    const std::uint64_t viewBytes_;
    std::vector<std::uint8_t> source_;
    std::uint32_t expected_ = 0;
    qelt::PosixSharedFileFactory factory_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [size MiB] [threads] [view KiB] [repeats]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::uint64_t size = (argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024) << 20;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 4;
    const std::uint64_t viewBytes = (argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1024) << 10;
    const int repeats = std::max(argc > 5 ? std::atoi(argv[5]) : 3, 1);
    if (viewBytes == 0 || size % viewBytes != 0) {
        std::fprintf(stderr, "the size must be a multiple of the view size\n");
        return 2;
    }

    std::map<std::string, std::vector<Timing>> timings;
    try {
        Bench bench(folder, size, threads, viewBytes);
        for (int i = 0; i < repeats; ++i)
            bench.Round(timings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    std::filesystem::remove(folder + "/views.bin");
    for (auto& [name, runs] : timings) {
        std::sort(runs.begin(), runs.end(),
                  [](const Timing& a, const Timing& b) { return a.seconds < b.seconds; });
        const Timing& median = runs[runs.size() / 2];
        std::printf("%s %.3f %.1f %.3f\n", name.c_str(), median.seconds,
                    static_cast<double>(size >> 20) / median.seconds, median.cpuSeconds);
    }
    return 0;
}

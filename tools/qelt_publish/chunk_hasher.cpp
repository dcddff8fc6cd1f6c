#include "tools/qelt_publish/chunk_hasher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "manifest/crc32.h"
#include "manifest/file_manifest.h"
#include "tools/qelt_publish/file_io.h"

namespace qelt::publish {
namespace {

// A worker takes this much of a file at a time (whole chunks, at least one): large enough that opening the file
// costs nothing next to reading it, small enough that two threads share one large file evenly.
constexpr std::uint64_t kSegmentBytes = 8u << 20;
// Bytes read per call: small enough to stay in the processor's cache between the read and the checksums.
constexpr std::size_t kBufferBytes = 512u << 10;

struct Segment {
    std::size_t job = 0;
    std::uint32_t firstChunk = 0;
    std::uint32_t endChunk = 0;  // one past the last
};

class ParallelHasher {
public:
    ParallelHasher(const std::vector<HashJob>& jobs, const HashSettings& settings)
        : jobs_(jobs), settings_(settings), results_(jobs.size()) {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const HashJob& job = jobs[i];
            const std::uint32_t chunks = ChunkCount(job.chunkSize, job.size);
            results_[i].crc32.resize(chunks);
            if (settings.sha256) results_[i].sha256.resize(chunks);
            const auto perSegment =
                static_cast<std::uint32_t>(std::max<std::uint64_t>(1, kSegmentBytes / job.chunkSize));
            for (std::uint32_t first = 0; first < chunks; first += std::min(perSegment, chunks - first)) {
                segments_.push_back(Segment{i, first, first + std::min(perSegment, chunks - first)});
            }
            total_ += job.size;
        }
    }

    std::vector<FileChecksums> Run() {
        unsigned threads = settings_.threads ? settings_.threads : std::thread::hardware_concurrency();
        threads =
            static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(segments_.size(), 1)));
        std::vector<std::thread> workers;
        workers.reserve(threads);
        for (unsigned i = 0; i < threads; ++i)
            workers.emplace_back([this] { Work(); });
        {
            std::unique_lock lock(mutex_);
            while (stopped_ < threads) {
                if (settings_.progress && !stop_.load()) {
                    lock.unlock();
                    std::exception_ptr thrown;
                    try {
                        settings_.progress(done_.load(), total_);
                    } catch (...) {
                        thrown = std::current_exception();
                    }
                    lock.lock();
                    // A caller that gives up (its user interrupted the run) is answered once every worker has
                    // stopped: a thread still running when the exception leaves would end the process.
                    if (thrown) {
                        if (!failure_) failure_ = thrown;
                        stop_ = true;
                    }
                }
                finished_.wait_for(lock, std::chrono::milliseconds(100), [&] { return stopped_ == threads; });
            }
        }
        for (auto& worker : workers)
            worker.join();
        if (failure_) std::rethrow_exception(failure_);
        if (settings_.progress) settings_.progress(done_.load(), total_);
        return std::move(results_);
    }

private:
    void Work() {
        try {
            std::vector<unsigned char> buffer(kBufferBytes);
            std::optional<Sha256> sha;
            if (settings_.sha256) sha.emplace();
            for (std::size_t next; !stop_.load() && (next = nextSegment_.fetch_add(1)) < segments_.size();) {
                HashSegment(segments_[next], buffer, sha ? &*sha : nullptr);
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
            stop_ = true;
        }
        std::lock_guard lock(mutex_);
        ++stopped_;
        finished_.notify_all();
    }

    void HashSegment(const Segment& segment, std::vector<unsigned char>& buffer, Sha256* sha) {
        const HashJob& job = jobs_[segment.job];
        FileChecksums& result = results_[segment.job];
        const InputFile input(job.source);
        std::optional<OutputFile> output;
        if (!job.copyTo.empty()) output.emplace(job.copyTo, OutputFile::Mode::OpenExisting);
        const std::uint64_t chunkSize = job.chunkSize;
        std::uint64_t position = segment.firstChunk * chunkSize;
        const std::uint64_t end = std::min(segment.endChunk * chunkSize, job.size);
        std::uint32_t chunk = segment.firstChunk;
        std::uint64_t chunkEnd = std::min(position + chunkSize, job.size);
        std::uint32_t crc = 0;
        while (position < end && !stop_.load()) {
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - position));
            input.ReadAt(buffer.data(), length, position);
            if (output) output->WriteAt(buffer.data(), length, position);
            for (std::size_t offset = 0; offset < length;) {
                const auto take = static_cast<std::size_t>(
                    std::min<std::uint64_t>(length - offset, chunkEnd - (position + offset)));
                crc = Crc32Update(crc, buffer.data() + offset, take);
                if (sha) sha->Update(buffer.data() + offset, take);
                offset += take;
                if (position + offset == chunkEnd) {
                    result.crc32[chunk] = crc;
                    if (sha) result.sha256[chunk] = sha->Finish();
                    crc = 0;
                    ++chunk;
                    chunkEnd = std::min(chunkEnd + chunkSize, job.size);
                }
            }
            position += length;
            done_ += length;
        }
        if (output) output->Close();
    }

    const std::vector<HashJob>& jobs_;
    const HashSettings& settings_;
    std::vector<FileChecksums> results_;
    std::vector<Segment> segments_;
    std::uint64_t total_ = 0;
    std::atomic<std::size_t> nextSegment_{0};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable finished_;
    unsigned stopped_ = 0;  // workers that have ended; guarded by mutex_
    std::exception_ptr failure_;
};

}  // namespace

std::vector<FileChecksums> HashFiles(const std::vector<HashJob>& jobs, const HashSettings& settings) {
    return ParallelHasher(jobs, settings).Run();
}

}  // namespace qelt::publish

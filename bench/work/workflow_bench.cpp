// Dispatch cost of the work engine: leaves per second through a workflow on the pool, against lone works posted
// straight to the same pool, the CPU time and thread switches each leaf costs, and the heap each leaf of a built
// tree takes. Wall times swing with the scheduler on a small machine, so every figure is the median of several
// runs, and the chunk tree's slowest and fastest runs are shown beside it.
//
//   qelt_work_bench [repeats = 7]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/work/process_usage.h"
#include "work/asio_work_manager.h"
#include "work/conditional_work.h"
#include "work/no_op_work.h"
#include "work/parallel_work.h"
#include "work/sequential_work.h"
#include "work/standard_workflow.h"

namespace qelt::bench {
namespace {

using Clock = std::chrono::steady_clock;

class Latch : public WorkCompleteCallback {
public:
    explicit Latch(std::size_t count) : remaining_(count) {}
    void OnWorkComplete(std::shared_ptr<Work>, const WorkStatus&) override {
        std::lock_guard lock(mutex_);
        if (--remaining_ == 0) done_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return remaining_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::size_t remaining_;
};

struct Tree {
    std::shared_ptr<Work> root;
    std::size_t leavesBuilt = 0;
    std::size_t leavesRun = 0;
};

// One parallel work over n leaves.
Tree Flat(std::size_t leaves) {
    auto root = std::make_shared<ParallelWork>();
    for (std::size_t i = 0; i < leaves; ++i)
        root->AddWork(std::make_shared<NoOpWork>());
    return {root, leaves, leaves};
}

// The shape of a transfer: a parallel work over chunk sequences of four steps, the third a conditional whose
// success branch runs; six leaves built and five run per chunk.
Tree Chunks(std::size_t leaves) {
    auto root = std::make_shared<ParallelWork>();
    const std::size_t chunks = leaves / 6;
    for (std::size_t i = 0; i < chunks; ++i) {
        auto chunk = std::make_shared<SequentialWork>();
        chunk->AddWork(std::make_shared<NoOpWork>());
        chunk->AddWork(std::make_shared<NoOpWork>());
        auto retry = std::make_shared<SequentialWork>();
        retry->AddWork(std::make_shared<NoOpWork>());
        chunk->AddWork(
            std::make_shared<ConditionalWork>(std::make_shared<NoOpWork>(), std::make_shared<NoOpWork>(), retry));
        chunk->AddWork(std::make_shared<NoOpWork>());
        root->AddWork(chunk);
    }
    return {root, chunks * 6, chunks * 5};
}

// Per leaf run, except bytesPerLeaf (per leaf built).
struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;
    double switches = 0;
    double bytesPerLeaf = 0;
};

Measure RunWorkflow(const std::function<Tree(std::size_t)>& build, std::size_t leaves, WorkManager& manager,
                    unsigned maxInFlight) {
    const std::size_t heapBefore = HeapBytesInUse();
    Tree tree = build(leaves);
    const std::size_t heapBuilt = HeapBytesInUse();
    Latch latch(1);
    tree.root->AddCompleteCallback(&latch);
    auto workflow = StandardWorkflow::Create(tree.root, &manager, maxInFlight);
    const CpuUsage usageBefore = ProcessCpuUsage();
    const auto start = Clock::now();
    workflow->Start();
    latch.Wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const CpuUsage usageAfter = ProcessCpuUsage();
    // The last pool task may still hold the workflow, and through it the tree: wait until it has let go, so that
    // the tree is freed here and the next measurement starts from a quiet heap.
    while (workflow.use_count() != 1)
        std::this_thread::yield();
    workflow.reset();
    tree.root.reset();
    const double built = static_cast<double>(heapBuilt) - static_cast<double>(heapBefore);
    const double run = static_cast<double>(tree.leavesRun);
    return {seconds / run, (usageAfter.seconds - usageBefore.seconds) / run,
            static_cast<double>(usageAfter.switches - usageBefore.switches) / run,
            built / static_cast<double>(tree.leavesBuilt)};
}

// Seconds per lone work.
double RunLoneWorks(std::size_t leaves, WorkManager& manager) {
    std::vector<std::shared_ptr<SimpleWork>> works;
    works.reserve(leaves);
    Latch latch(leaves);
    for (std::size_t i = 0; i < leaves; ++i) {
        works.push_back(std::make_shared<NoOpWork>());
        works.back()->AddCompleteCallback(&latch);
    }
    const auto start = Clock::now();
    for (auto& work : works)
        manager.PostWork(work);
    latch.Wait();
    const double seconds =
        std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(leaves);
    // Pool tasks release their copies after the report; wait for them so the works die here.
    for (auto& work : works)
        while (work.use_count() != 1)
            std::this_thread::yield();
    return seconds;
}

// Runs `run` `repeats` times; the runs sorted by time per leaf.
template <typename F>
auto Sorted(int repeats, F run) {
    std::vector<decltype(run())> runs;
    for (int i = 0; i < repeats; ++i)
        runs.push_back(run());
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
    return runs;
}

template <typename T>
const T& Median(const std::vector<T>& sorted) {
    return sorted[sorted.size() / 2];
}

}  // namespace
}  // namespace qelt::bench

int main(int argc, char** argv) {
    using namespace qelt;
    using namespace qelt::bench;
    const int repeats = std::max(argc > 1 ? std::atoi(argv[1]) : 7, 1);
    const unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
    const unsigned maxInFlight = hardware + 2;
    AsioWorkManager manager(2 * maxInFlight);
    std::printf("pool %u threads, at most %u leaves in flight, median of %d runs\n\n", 2 * maxInFlight,
                maxInFlight, repeats);
    std::printf("%-5s %14s %14s %14s %19s %9s %9s %6s %6s %8s\n", "tree", "lone works/s", "flat leaves/s",
                "chunk leaves/s", "chunk slowest-best", "CPU us/lf", "switch/lf", "flat B", "chunk B", "RSS KiB");
    for (std::size_t leaves : {std::size_t{1000}, std::size_t{10000}, std::size_t{100000}}) {
        struct Lone {
            double seconds;
        };
        const double lone = Median(Sorted(repeats, [&] { return Lone{RunLoneWorks(leaves, manager)}; })).seconds;
        const Measure flat =
            Median(Sorted(repeats, [&] { return RunWorkflow(Flat, leaves, manager, maxInFlight); }));
        const auto chunkRuns = Sorted(repeats, [&] { return RunWorkflow(Chunks, leaves, manager, maxInFlight); });
        const Measure& chunks = Median(chunkRuns);
        const char* name = leaves >= 100000 ? "100k" : leaves >= 10000 ? "10k" : "1k";
        std::printf("%-5s %14.0f %14.0f %14.0f %9.0f-%-9.0f %9.2f %9.2f %6.0f %7.0f %8ld\n", name, 1 / lone,
                    1 / flat.seconds, 1 / chunks.seconds, 1 / chunkRuns.back().seconds,
                    1 / chunkRuns.front().seconds, chunks.cpuSeconds * 1e6, chunks.switches, flat.bytesPerLeaf,
                    chunks.bytesPerLeaf, PeakResidentKiB());
    }
    std::printf(
        "\nleaves/s: leaves run per second of wall time (the chunk tree runs five of every six it builds)\n");
    std::printf("CPU us/lf, switch/lf: CPU time of all threads and thread switches per chunk-tree leaf run\n");
    std::printf("B: heap taken by the built tree per leaf (chunk tree: composites included)\n");
    std::printf("RSS: the process's high-water mark after the row (rows run in order of size)\n");
    return 0;
}

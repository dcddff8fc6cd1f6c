// Dispatch cost of the work engine: leaves per second through a workflow on the pool, against lone works posted
// straight to the same pool, and the heap each leaf of a built tree takes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/work/memory_usage.h"
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

struct Measure {
    double seconds = 0;
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
    const auto start = Clock::now();
    workflow->Start();
    latch.Wait();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The last pool task may still hold the workflow, and through it the tree: wait until it has let go, so that
    // the tree is freed here and the next measurement starts from a quiet heap.
    while (workflow.use_count() != 1)
        std::this_thread::yield();
    workflow.reset();
    tree.root.reset();
    const double built = static_cast<double>(heapBuilt) - static_cast<double>(heapBefore);
    return {seconds * static_cast<double>(leaves) / static_cast<double>(tree.leavesRun),
            built / static_cast<double>(tree.leavesBuilt)};
}

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
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // Pool tasks release their copies after the report; wait for them so the works die here.
    for (auto& work : works)
        while (work.use_count() != 1)
            std::this_thread::yield();
    return seconds;
}

template <typename F>
auto Best(int repeats, F run) {
    auto best = run();
    for (int i = 1; i < repeats; ++i) {
        auto next = run();
        if (next.seconds < best.seconds) best = next;
    }
    return best;
}

}  // namespace
}  // namespace qelt::bench

int main() {
    using namespace qelt;
    using namespace qelt::bench;
    const unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
    const unsigned maxInFlight = hardware + 2;
    AsioWorkManager manager(2 * maxInFlight);
    std::printf("pool %u threads, at most %u leaves in flight\n\n", 2 * maxInFlight, maxInFlight);
    std::printf("%-6s %8s %14s %14s %14s %7s %12s %13s %13s\n", "tree", "leaves", "lone works/s", "flat leaves/s",
                "chunk leaves/s", "ratio", "flat B/leaf", "chunk B/leaf", "peak RSS KiB");
    for (std::size_t leaves : {std::size_t{1000}, std::size_t{10000}, std::size_t{100000}}) {
        struct Lone {
            double seconds;
        };
        const int repeats = leaves >= 100000 ? 3 : 5;
        const double lone = Best(repeats, [&] { return Lone{RunLoneWorks(leaves, manager)}; }).seconds;
        const Measure flat = Best(repeats, [&] { return RunWorkflow(Flat, leaves, manager, maxInFlight); });
        const Measure chunks = Best(repeats, [&] { return RunWorkflow(Chunks, leaves, manager, maxInFlight); });
        const double n = static_cast<double>(leaves);
        const char* name = leaves >= 100000 ? "100k" : leaves >= 10000 ? "10k" : "1k";
        std::printf("%-6s %8zu %14.0f %14.0f %14.0f %7.2f %12.0f %13.0f %13ld\n", name, leaves, n / lone,
                    n / flat.seconds, n / chunks.seconds, lone / flat.seconds, flat.bytesPerLeaf,
                    chunks.bytesPerLeaf, PeakResidentKiB());
    }
    std::printf("\nratio: lone-work time / flat workflow time (1.0 = the workflow adds nothing to posting)\n");
    std::printf("B/leaf: heap taken by the built tree per leaf (chunk tree: composites included)\n");
    std::printf("peak RSS: the process's high-water mark after the row (rows run in order of size)\n");
    return 0;
}

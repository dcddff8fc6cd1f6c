// Fetches a published package from nginx mirrors through the engine's whole work tree (into a fresh folder, into
// the complete folder, and with damaged chunks) beside curl fetching the same files, and checks every result.
//   qelt_pipeline_bench SOURCE WORK PUBLISH [rounds = 5] [phases = curl,fresh,recheck,repair] [nginx workers = 1]
// SOURCE is the folder to publish, WORK an empty folder for the mirror root and the destinations, PUBLISH the
// qelt-publish program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/pipeline/bench_package.h"
#include "bench/pipeline/engine_fetch.h"
#include "bench/pipeline/process_usage.h"
#include "manifest/file_manifest.h"
#include "tests/support/nginx_server.h"

namespace qelt::bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPorts = 4;
constexpr std::size_t kDamagedChunks = 10;

struct Options {
    fs::path source;
    fs::path work;
    std::string publish;
    unsigned rounds = 5;
    std::set<std::string> phases = {"curl", "fresh", "recheck", "repair"};
    unsigned nginxWorkers = 1;
};

class BenchFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Require(bool condition, const std::string& message) {
    if (!condition) throw BenchFailure(message);
}

std::string FilePath(const std::string& path) {
    return std::string("/packages/") + kPartnerId + "/" + kPackageId + "/" + kVersionId + "/" + path;
}

// The range requests nginx logged from entry `from` on, once it has logged at least `expected` more entries
// (it logs a request just after its last byte went out).
std::vector<test::NginxLogEntry> RangeRequestsSince(const test::NginxServer& nginx, std::size_t from,
                                                    std::size_t expected) {
    nginx.WaitForLogEntries(from + expected, std::chrono::seconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // any stragglers beyond `expected`
    const auto log = nginx.AccessLog();
    std::vector<test::NginxLogEntry> ranges;
    for (std::size_t i = from; i < log.size(); ++i) {
        if (!log[i].range.empty()) ranges.push_back(log[i]);
    }
    return ranges;
}

// With QELT_PERF_CONTROL=CTL,ACK (the fifos of perf record --control=fifo:CTL,ACK --delay=-1), a profiler records
// only while the engine fetches, not while the benchmark prepares or checks; QELT_PERF_PHASE=fresh (or recheck,
// repair) narrows that to one phase.
class ProfiledSpan {
public:
    explicit ProfiledSpan(const std::string& phase) {
        const char* only = std::getenv("QELT_PERF_PHASE");
        active_ = !only || !*only || phase == only;
        if (active_) Send("enable");
    }
    ~ProfiledSpan() {
        if (active_) Send("disable");
    }
    ProfiledSpan(const ProfiledSpan&) = delete;
    ProfiledSpan& operator=(const ProfiledSpan&) = delete;

private:
    static void Send(const char* command) {
        const char* fifos = std::getenv("QELT_PERF_CONTROL");
        if (!fifos || !*fifos) return;
        const std::string both(fifos);
        const auto comma = both.find(',');
        std::ofstream(both.substr(0, comma)) << command << std::endl;
        if (comma == std::string::npos) return;
        std::ifstream ack(both.substr(comma + 1));
        std::string answer;
        std::getline(ack, answer);
    }

    bool active_ = false;
};

void Settle() {
    // Write back what the last phase left dirty, so that its writeback does not run inside the next phase.
    RunChild({"sync"});
}

void Publish(const Options& options, const fs::path& root, const test::NginxServer& nginx) {
    std::vector<std::string> arguments = {options.publish, options.source.string(),
                                          "--out",         root.string(),
                                          "--partner",     kPartnerId,
                                          "--package",     kPackageId,
                                          "--version",     kVersionId,
                                          "--current",     "--link"};
    for (const auto port : nginx.Ports()) {
        arguments.push_back("--node");
        arguments.push_back("127.0.0.1:" + std::to_string(port));
    }
    Require(RunChild(arguments).exitCode == 0, "qelt-publish failed");
}

struct Samples {
    std::vector<PhaseUsage> runs;
    std::size_t requests = 0;  // range requests of the last run
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

PhaseUsage MedianOf(const std::vector<PhaseUsage>& runs) {
    std::vector<double> seconds, cpu, peak;
    for (const auto& run : runs) {
        seconds.push_back(run.seconds);
        cpu.push_back(run.cpuSeconds);
        peak.push_back(static_cast<double>(run.peakKiB));
    }
    return {Median(seconds), Median(cpu), static_cast<long>(Median(peak))};
}

class PipelineBench {
public:
    PipelineBench(Options options, const test::NginxServer& nginx, const BenchPackage& package)
        : options_(std::move(options)), nginx_(nginx), package_(package) {}

    void RunRound(unsigned round) {
        if (Wants("curl")) FetchWithCurl();
        if (Wants("fresh") || Wants("recheck") || Wants("repair")) Fresh();
        if (Wants("recheck")) Recheck();
        if (Wants("repair")) Repair(round);
    }

    void PrintTable() const;

private:
    bool Wants(const std::string& phase) const { return options_.phases.count(phase) != 0; }
    fs::path EngineFolder() const { return options_.work / "engine"; }
    fs::path CurlFolder() const { return options_.work / "curl"; }
    std::string ManifestHost() const { return "127.0.0.1:" + std::to_string(nginx_.Ports()[0]); }

    void FetchWithCurl() {
        fs::remove_all(CurlFolder());
        fs::create_directories(CurlFolder());
        // A child's peak resident set starts from its parent's at the moment it was started, so curl's own peak
        // comes from time(1), whose child curl is.
        const fs::path peakFile = options_.work / "curl-peak-kib";
        std::vector<std::string> arguments = {"/usr/bin/time",   "-f",   "%M", "-o",
                                              peakFile.string(), "curl", "-s", "--fail"};
        for (const auto& file : package_.Manifest().GetFiles()) {
            arguments.push_back("-o");
            arguments.push_back((CurlFolder() / file->GetPath()).string());
            arguments.push_back(nginx_.Url(0, FilePath(file->GetPath())));
        }
        Settle();
        ChildRun run = RunChild(arguments);
        Require(run.exitCode == 0, "curl failed with exit code " + std::to_string(run.exitCode));
        std::ifstream(peakFile) >> run.usage.peakKiB;
        Require(package_.BadChunks(CurlFolder()).empty(), "curl's copy differs from the package");
        samples_["curl"].runs.push_back(run.usage);
    }

    // One engine fetch into the engine's folder; checks that it succeeded and left every chunk intact, and
    // returns the range requests it made.
    std::vector<test::NginxLogEntry> Fetch(const std::string& phase, std::uint64_t expectDownloaded,
                                           std::size_t expectRequests) {
        Settle();
        const std::size_t logBefore = nginx_.AccessLog().size();
        EngineFetch fetch;
        {
            ProfiledSpan profiled(phase);
            fetch = FetchWithEngine(ManifestHost(), EngineFolder());
        }
        Require(fetch.failure.empty(), phase + ": " + fetch.failure);
        // The manifest and the node list, then the chunks.
        auto ranges = RangeRequestsSince(nginx_, logBefore, 2 + expectRequests);
        const auto bad = package_.BadChunks(EngineFolder());
        Require(bad.empty(), phase + ": " + std::to_string(bad.size()) +
                                 " chunks differ from the package, first " +
                                 (bad.empty() ? "" : bad[0].path + " " + bad[0].RangeHeader()));
        const std::uint64_t total = package_.TotalBytes();
        Require(fetch.status.bytesVerified == total, phase + ": verified " +
                                                         std::to_string(fetch.status.bytesVerified) + " of " +
                                                         std::to_string(total) + " bytes");
        Require(fetch.status.bytesTransferred == total, phase + ": progress ends off the size");
        Require(fetch.status.bytesDownloaded >= expectDownloaded,
                phase + ": downloaded " + std::to_string(fetch.status.bytesDownloaded) + " bytes, expected " +
                    std::to_string(expectDownloaded));
        samples_[phase].runs.push_back(fetch.usage);
        samples_[phase].requests = ranges.size();
        return ranges;
    }

    void Fresh() {
        fs::remove_all(EngineFolder());
        fs::create_directories(EngineFolder());
        const auto ranges = Fetch("fresh", package_.TotalBytes(), package_.ChunkTotal());
        Require(ranges.size() >= package_.ChunkTotal(), "fresh: fewer range requests than chunks");
    }

    void Recheck() {
        const auto ranges = Fetch("recheck", 0, 0);
        Require(ranges.empty(),
                "recheck: " + std::to_string(ranges.size()) + " range requests on a complete folder");
    }

    void Repair(unsigned round) {
        const auto damaged = package_.PickChunks(kDamagedChunks, round);
        DamageChunks(EngineFolder(), damaged);
        Require(package_.BadChunks(EngineFolder()).size() == damaged.size(), "repair: damage did not take");
        std::uint64_t damagedBytes = 0;
        std::multiset<std::string> expected;
        for (const auto& chunk : damaged) {
            damagedBytes += chunk.Length();
            expected.insert(FilePath(chunk.path) + " " + chunk.RangeHeader());
        }
        const auto ranges = Fetch("repair", damagedBytes, damaged.size());
        std::multiset<std::string> requested;
        std::uint64_t bodyBytes = 0;
        for (const auto& entry : ranges) {
            requested.insert(entry.path + " " + entry.range);
            bodyBytes += entry.bodyBytes;
        }
        Require(requested == expected, "repair: the range requests were not exactly the damaged chunks (" +
                                           std::to_string(ranges.size()) + " requests for " +
                                           std::to_string(damaged.size()) + " chunks)");
        Require(bodyBytes == damagedBytes, "repair: moved " + std::to_string(bodyBytes) + " bytes for " +
                                               std::to_string(damagedBytes) + " damaged");
        repairBytes_ = bodyBytes;
    }

    Options options_;
    const test::NginxServer& nginx_;
    const BenchPackage& package_;
    std::map<std::string, Samples> samples_;
    std::uint64_t repairBytes_ = 0;
};

void PipelineBench::PrintTable() const {
    const double gib = static_cast<double>(package_.TotalBytes()) / (1u << 30);
    const TransferSettings settings = DefaultSettings();
    std::printf(
        "pipeline: %.2f GiB in %zu files, %zu chunks, %zu nginx ports (%u worker%s), %u processors, %u pool "
        "threads, %u leaves in flight; page cache warm; medians of %u rounds\n",
        gib, package_.Manifest().GetFiles().size(), package_.ChunkTotal(), kPorts, options_.nginxWorkers,
        options_.nginxWorkers == 1 ? "" : "s", std::thread::hardware_concurrency(), settings.transferThreads,
        settings.workflowParallelism, options_.rounds);
    std::printf("%-22s %8s %15s %7s %7s %9s %8s %8s %9s\n", "phase", "seconds", "(min-max)", "GiB/s", "CPU s",
                "peak MiB", "s/curl", "CPU/curl", "requests");
    const auto curl = samples_.find("curl");
    const PhaseUsage curlMedian = curl != samples_.end() ? MedianOf(curl->second.runs) : PhaseUsage{};
    const std::pair<const char*, const char*> order[] = {{"curl", "curl, 8 files"},
                                                         {"fresh", "fresh fetch"},
                                                         {"recheck", "re-check (complete)"},
                                                         {"repair", "repair (10 chunks)"}};
    for (const auto& [phase, label] : order) {
        const auto found = samples_.find(phase);
        if (found == samples_.end()) continue;
        const auto& runs = found->second.runs;
        const PhaseUsage median = MedianOf(runs);
        double low = runs[0].seconds, high = runs[0].seconds;
        for (const auto& run : runs) {
            low = std::min(low, run.seconds);
            high = std::max(high, run.seconds);
        }
        char range[32], rate[16] = "-", vsWall[16] = "-", vsCpu[16] = "-", requests[16] = "-";
        std::snprintf(range, sizeof range, "(%.3f-%.3f)", low, high);
        // The package's size over the time: moved or verified bytes, except for a repair.
        if (std::string(phase) != "repair") std::snprintf(rate, sizeof rate, "%.2f", gib / median.seconds);
        if (curlMedian.seconds > 0) {
            std::snprintf(vsWall, sizeof vsWall, "%.2fx", median.seconds / curlMedian.seconds);
            std::snprintf(vsCpu, sizeof vsCpu, "%.2fx", median.cpuSeconds / curlMedian.cpuSeconds);
        }
        if (std::string(phase) != "curl") std::snprintf(requests, sizeof requests, "%zu", found->second.requests);
        std::printf("%-22s %8.3f %15s %7s %7.3f %9.0f %8s %8s %9s\n", label, median.seconds, range, rate,
                    median.cpuSeconds, static_cast<double>(median.peakKiB) / 1024, vsWall, vsCpu, requests);
    }
    if (repairBytes_ != 0)
        std::printf("repair moved %llu bytes: exactly the %zu damaged chunks\n",
                    static_cast<unsigned long long>(repairBytes_), kDamagedChunks);
}

Options ParseOptions(int argc, char** argv) {
    if (argc < 4) throw BenchFailure("usage: qelt_pipeline_bench SOURCE WORK PUBLISH [rounds] [phases] [workers]");
    Options options;
    options.source = argv[1];
    options.work = argv[2];
    options.publish = argv[3];
    if (argc > 4) options.rounds = static_cast<unsigned>(std::max(1, std::stoi(argv[4])));
    if (argc > 5) {
        options.phases.clear();
        std::istringstream list(argv[5]);
        for (std::string phase; std::getline(list, phase, ',');)
            options.phases.insert(phase);
    }
    if (argc > 6) options.nginxWorkers = static_cast<unsigned>(std::max(1, std::stoi(argv[6])));
    return options;
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const fs::path root = options.work / "root";
    fs::create_directories(root);
    test::NginxServer nginx({root, kPorts, {}, options.nginxWorkers});
    Publish(options, root, nginx);
    const BenchPackage package(root, kPackageId, kVersionId);

    PipelineBench bench(options, nginx, package);
    for (unsigned round = 0; round < options.rounds; ++round)
        bench.RunRound(round);
    bench.PrintTable();
    return 0;
}

}  // namespace
}  // namespace qelt::bench

int main(int argc, char** argv) {
    try {
        return qelt::bench::Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "pipeline bench: " << error.what() << "\n";
        return 1;
    }
}

// qelt-fetch beside curl and aria2c on the same nginx mirrors, each program run as a user would run it: a fresh
// fetch, a re-run into the complete folder, a repair of damaged chunks, 2000 small files, one mirror throttled,
// and the memory of a 4 GiB package of 64 KiB chunks. Every result is compared byte by byte with the source, and
// the repair must request exactly the damaged chunks.
//   qelt_e2e_bench WORK FETCH PUBLISH [runs = 3] [phases = fresh,recheck,repair,small,throttled,memory]
// WORK holds source/ (the 1 GiB package's files), small/ (the small files) and, for the memory phase, big/ (the
// 4 GiB package's files); the benchmark writes the mirror root, the destinations and its scratch files beside
// them.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/e2e/program_run.h"
#include "bench/e2e/sha1_metalink.h"
#include "bench/pipeline/bench_package.h"
#include "bench/pipeline/process_usage.h"
#include "manifest/file_manifest.h"
#include "tests/support/nginx_server.h"

extern char** environ;

namespace qelt::bench {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kMirrors = 4;
// The fifth port serves the same root as the fourth mirror's stand-in, limited per connection.
constexpr std::size_t kThrottledPort = 4;
constexpr std::uint64_t kThrottledRate = 1 << 20;
constexpr std::size_t kDamagedChunks = 10;
constexpr double kGiB = 1 << 30;

constexpr char kPartner[] = "bench-partner";
constexpr char kThrottledPartner[] = "bench-throttled";
constexpr char kPackage[] = "bench-package";
// Manifests are kept per package, not per partner: the throttled partner's copy needs its own package id.
constexpr char kThrottledPackage[] = "bench-throttled-package";
constexpr char kSmallPackage[] = "bench-small";
constexpr char kBigPackage[] = "bench-big";
constexpr char kVersion[] = "1";

const std::vector<std::string> kAllPhases = {"fresh", "recheck", "repair", "small", "throttled", "memory"};

struct Options {
    fs::path work;
    std::string fetch;
    std::string publish;
    unsigned runs = 3;
    std::set<std::string> phases{kAllPhases.begin(), kAllPhases.end()};
};

class BenchFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Require(bool condition, const std::string& message) {
    if (!condition) throw BenchFailure(message);
}

// What nginx served one run for package files (manifests and node lists left out).
struct Served {
    std::size_t requests = 0;
    std::size_t ranges = 0;
    std::uint64_t bytes = 0;
    std::uint64_t throttledBytes = 0;   // of those, from the throttled port
    std::multiset<std::string> chunks;  // "path range" of each range request
};

struct Sample {
    ProgramUsage usage;
    Served served;
    double nginxCpuSeconds = 0;
};

// One line of the table: one program in one phase, every run of it.
struct Row {
    std::string phase;
    std::string program;
    double packageGiB = 0;
    std::vector<Sample> samples;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

template <typename Field>
double MedianOf(const Row& row, Field field) {
    std::vector<double> values;
    for (const auto& sample : row.samples)
        values.push_back(field(sample));
    return Median(values);
}

double Seconds(const Row& row) {
    return MedianOf(row, [](const Sample& s) { return s.usage.seconds; });
}

double Cpu(const Row& row) {
    return MedianOf(row, [](const Sample& s) { return s.usage.cpuSeconds; });
}

double AnonMiB(const Row& row) {
    return MedianOf(row, [](const Sample& s) { return static_cast<double>(s.usage.peakAnonKiB) / 1024; });
}

// The first difference between the regular files under `source` and under `copy` (missing, extra, other size,
// other bytes), or "" when they hold the same files with the same bytes.
std::string CompareFolders(const fs::path& source, const fs::path& copy) {
    std::set<fs::path> expected, present;
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file()) expected.insert(fs::relative(entry.path(), source));
    for (const auto& entry : fs::recursive_directory_iterator(copy))
        if (!entry.is_directory()) present.insert(fs::relative(entry.path(), copy));
    for (const auto& path : present)
        if (!expected.count(path)) return "an extra file " + path.string();
    std::vector<char> a(4 << 20), b(4 << 20);
    for (const auto& path : expected) {
        if (!present.count(path)) return path.string() + " is missing";
        if (fs::file_size(source / path) != fs::file_size(copy / path)) return path.string() + " has another size";
        std::ifstream left(source / path, std::ios::binary), right(copy / path, std::ios::binary);
        for (std::uint64_t offset = 0;; offset += a.size()) {
            left.read(a.data(), static_cast<std::streamsize>(a.size()));
            right.read(b.data(), static_cast<std::streamsize>(b.size()));
            const auto got = left.gcount();
            if (got != right.gcount() || std::memcmp(a.data(), b.data(), static_cast<std::size_t>(got)) != 0)
                return path.string() + " differs in the 4 MiB from byte " + std::to_string(offset);
            if (got == 0) break;
        }
    }
    return "";
}

// The caller's environment without proxies (every program talks to loopback nginx directly), with the fetch's
// records and logs under the benchmark's own folder and messages in English.
std::vector<std::string> ChildEnvironment(const fs::path& temp) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower.ends_with("_proxy") || name == "TMPDIR" || name == "LC_ALL") continue;
        environment.push_back(entry);
    }
    environment.push_back("TMPDIR=" + temp.string());
    environment.push_back("LC_ALL=C");
    return environment;
}

class E2eBench {
public:
    E2eBench(Options options, const test::NginxServer& nginx)
        : options_(std::move(options)),
          nginx_(nginx),
          scratch_(options_.work / "scratch"),
          environment_(ChildEnvironment(options_.work / "tmp")) {
        fs::create_directories(scratch_);
        fs::create_directories(options_.work / "tmp");
    }

    void Prepare();
    void RunRound(unsigned round);
    void RunMemory();
    void PrintTable() const;
    void PrintTargets() const;

private:
    bool Wants(const std::string& phase) const { return options_.phases.count(phase) != 0; }
    fs::path Root() const { return options_.work / "root"; }
    fs::path Source() const { return options_.work / "source"; }
    fs::path Dest(const std::string& name) const { return options_.work / "dest" / name; }
    fs::path Metalink(const std::string& name) const { return options_.work / (name + ".meta4"); }
    std::string Host(std::size_t port) const { return "127.0.0.1:" + std::to_string(nginx_.Ports()[port]); }
    std::vector<std::size_t> HealthyMirrors() const { return {0, 1, 2, 3}; }
    std::vector<std::size_t> ThrottledMirrors() const { return {0, 1, 2, kThrottledPort}; }

    static std::string FilePath(const std::string& partner, const std::string& package, const std::string& path) {
        return "/packages/" + partner + "/" + package + "/" + kVersion + "/" + path;
    }

    void Publish(const fs::path& source, const std::string& partner, const std::string& package,
                 const std::vector<std::size_t>& mirrors, const std::string& chunkSize) const;
    void WriteMetalink(const std::string& name, const fs::path& source, const std::string& partner,
                       const std::string& package, const std::vector<std::size_t>& mirrors,
                       std::uint64_t pieceLength) const;

    std::vector<std::string> QeltFetch(const std::string& partner, const std::string& package,
                                       const fs::path& dest) const {
        return {options_.fetch, "--host", Host(0),  "--partner",  partner,
                "--package",    package,  "--dest", dest.string()};
    }
    std::vector<std::string> Aria2(const std::string& metalink, const fs::path& dest, unsigned jobs,
                                   bool verify) const {
        std::vector<std::string> arguments = {"aria2c",
                                              "--no-conf",
                                              "-q",
                                              "-x",
                                              "2",
                                              "-s",
                                              "8",
                                              "-j",
                                              std::to_string(jobs),
                                              "--min-split-size=1M",
                                              "--file-allocation=falloc",
                                              "--auto-file-renaming=false",
                                              "-d",
                                              dest.string(),
                                              "-M",
                                              Metalink(metalink).string()};
        if (verify) arguments.push_back("-V");
        return arguments;
    }
    std::vector<std::string> Curl(const fs::path& source, const std::string& package, const fs::path& dest,
                                  unsigned parallel) const;

    Row& RowOf(const std::string& phase, const std::string& program, double packageGiB);
    // Runs one program after a sync (so that it does not pay for the writeback of the run before), checks that
    // it succeeded and left `dest` identical to `source`, and records the run.
    Sample Measure(const std::string& phase, const std::string& program, double packageGiB,
                   const std::vector<std::string>& arguments, const fs::path& source, const fs::path& dest);
    Served ServedSince(std::size_t logBefore) const;
    double NginxCpuSeconds() const { return ChildrenCpuSeconds(nginx_.Folder() / "nginx.pid"); }

    void Fresh();
    void Recheck();
    void Repair(unsigned round);
    void Small();
    void Throttled();

    Options options_;
    const test::NginxServer& nginx_;
    const fs::path scratch_;
    const std::vector<std::string> environment_;
    std::unique_ptr<BenchPackage> package_;
    std::vector<Row> rows_;
};

void E2eBench::Publish(const fs::path& source, const std::string& partner, const std::string& package,
                       const std::vector<std::size_t>& mirrors, const std::string& chunkSize) const {
    std::vector<std::string> arguments = {
        options_.publish, source.string(), "--out",  Root().string(), "--partner",    partner,   "--package",
        package,          "--version",     kVersion, "--current",     "--chunk-size", chunkSize, "--link"};
    for (const auto mirror : mirrors) {
        arguments.push_back("--node");
        arguments.push_back(Host(mirror));
    }
    Require(RunChild(arguments).exitCode == 0, "qelt-publish failed on " + source.string());
}

void E2eBench::WriteMetalink(const std::string& name, const fs::path& source, const std::string& partner,
                             const std::string& package, const std::vector<std::size_t>& mirrors,
                             std::uint64_t pieceLength) const {
    std::vector<MetalinkEntry> entries;
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        if (!entry.is_regular_file()) continue;
        const std::string path = fs::relative(entry.path(), source).string();
        MetalinkEntry file{path, entry.path(), {}};
        for (const auto mirror : mirrors)
            file.urls.push_back(nginx_.Url(mirror, FilePath(partner, package, path)));
        entries.push_back(std::move(file));
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    WriteSha1Metalink(Metalink(name), entries, pieceLength);
}

void E2eBench::Prepare() {
    fs::create_directories(Root());
    const bool big = Wants("fresh") || Wants("recheck") || Wants("repair") || Wants("throttled");
    if (big) {
        Publish(Source(), kPartner, kPackage, HealthyMirrors(), "1M");
        WriteMetalink("package", Source(), kPartner, kPackage, HealthyMirrors(), 1 << 20);
        package_ = std::make_unique<BenchPackage>(Root(), kPackage, kVersion);
    }
    if (Wants("throttled")) {
        // The same files under a partner whose node list has the throttled port in place of the fourth mirror.
        Publish(Source(), kThrottledPartner, kThrottledPackage, ThrottledMirrors(), "1M");
        WriteMetalink("throttled", Source(), kThrottledPartner, kThrottledPackage, ThrottledMirrors(), 1 << 20);
    }
    if (Wants("small")) {
        Publish(options_.work / "small", kPartner, kSmallPackage, HealthyMirrors(), "1M");
        WriteMetalink("small", options_.work / "small", kPartner, kSmallPackage, HealthyMirrors(), 1 << 20);
    }
    if (Wants("memory")) Publish(options_.work / "big", kPartner, kBigPackage, HealthyMirrors(), "64K");
}

std::vector<std::string> E2eBench::Curl(const fs::path& source, const std::string& package, const fs::path& dest,
                                        unsigned parallel) const {
    std::vector<std::string> arguments = {"curl", "-s", "--fail"};
    if (parallel > 1) {
        arguments.insert(arguments.end(), {"--parallel", "--parallel-max", std::to_string(parallel)});
    }
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(source))
        if (entry.is_regular_file()) paths.push_back(fs::relative(entry.path(), source).string());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        arguments.push_back("-o");
        arguments.push_back((dest / path).string());
        arguments.push_back(nginx_.Url(0, FilePath(kPartner, package, path)));
    }
    return arguments;
}

Row& E2eBench::RowOf(const std::string& phase, const std::string& program, double packageGiB) {
    for (auto& row : rows_)
        if (row.phase == phase && row.program == program) return row;
    rows_.push_back({phase, program, packageGiB, {}});
    return rows_.back();
}

Served E2eBench::ServedSince(std::size_t logBefore) const {
    // nginx logs a request once its response is finished, a moment after the client may have ended: wait until
    // the log stays put.
    std::size_t size = nginx_.AccessLog().size();
    for (int quiet = 0, round = 0; quiet < 3 && round < 200; ++round) {
        std::this_thread::sleep_for(20ms);
        const std::size_t now = nginx_.AccessLog().size();
        quiet = now == size ? quiet + 1 : 0;
        size = now;
    }
    const auto log = nginx_.AccessLog();
    Served served;
    for (std::size_t i = logBefore; i < log.size(); ++i) {
        const auto& entry = log[i];
        if (!entry.path.starts_with("/packages/")) continue;
        ++served.requests;
        served.bytes += entry.bodyBytes;
        if (entry.port == nginx_.Ports()[kThrottledPort]) served.throttledBytes += entry.bodyBytes;
        if (!entry.range.empty()) {
            ++served.ranges;
            served.chunks.insert(entry.path + " " + entry.range);
        }
    }
    return served;
}

Sample E2eBench::Measure(const std::string& phase, const std::string& program, double packageGiB,
                         const std::vector<std::string>& arguments, const fs::path& source, const fs::path& dest) {
    RunChild({"sync"});
    const std::size_t logBefore = nginx_.AccessLog().size();
    const double nginxBefore = NginxCpuSeconds();
    const ProgramRun run = RunMeasured(arguments, environment_, scratch_);
    if (Interrupted()) throw BenchFailure("interrupted");
    Require(run.exitCode == 0,
            phase + ", " + program + ": exit status " + std::to_string(run.exitCode) + "\n" + run.err);
    // After the log has settled, so that the last responses' sending counts too.
    Sample sample{run.usage, ServedSince(logBefore), 0};
    sample.nginxCpuSeconds = NginxCpuSeconds() - nginxBefore;
    const std::string difference = CompareFolders(source, dest);
    Require(difference.empty(), phase + ", " + program + ": " + difference);
    RowOf(phase, program, packageGiB).samples.push_back(sample);
    return sample;
}

void FreshFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

void E2eBench::Fresh() {
    const double gib = static_cast<double>(package_->TotalBytes()) / kGiB;
    FreshFolder(Dest("curl"));
    Measure("fresh", "curl, 1 mirror, in sequence", gib, Curl(Source(), kPackage, Dest("curl"), 1), Source(),
            Dest("curl"));
    FreshFolder(Dest("aria2c"));
    Measure("fresh", "aria2c", gib, Aria2("package", Dest("aria2c"), 2, false), Source(), Dest("aria2c"));
    FreshFolder(Dest("qelt"));
    const Sample qelt =
        Measure("fresh", "qelt-fetch", gib, QeltFetch(kPartner, kPackage, Dest("qelt")), Source(), Dest("qelt"));
    Require(qelt.served.ranges >= package_->ChunkTotal(), "fresh, qelt-fetch: fewer range requests than chunks");
}

void E2eBench::Recheck() {
    const double gib = static_cast<double>(package_->TotalBytes()) / kGiB;
    Measure("re-check", "aria2c -V", gib, Aria2("package", Dest("aria2c"), 2, true), Source(), Dest("aria2c"));
    const Sample qelt = Measure("re-check", "qelt-fetch", gib, QeltFetch(kPartner, kPackage, Dest("qelt")),
                                Source(), Dest("qelt"));
    Require(qelt.served.requests == 0,
            "re-check, qelt-fetch: " + std::to_string(qelt.served.requests) + " requests on a complete folder");
}

void E2eBench::Repair(unsigned round) {
    const double gib = static_cast<double>(package_->TotalBytes()) / kGiB;
    const auto damaged = package_->PickChunks(kDamagedChunks, round);
    std::uint64_t damagedBytes = 0;
    std::multiset<std::string> expected;
    for (const auto& chunk : damaged) {
        damagedBytes += chunk.Length();
        expected.insert(FilePath(kPartner, kPackage, chunk.path) + " " + chunk.RangeHeader());
    }
    for (const char* program : {"aria2c", "qelt"}) {
        DamageChunks(Dest(program), damaged);
        Require(package_->BadChunks(Dest(program)).size() == damaged.size(), "repair: the damage did not take");
    }
    Measure("repair", "aria2c -V", gib, Aria2("package", Dest("aria2c"), 2, true), Source(), Dest("aria2c"));
    const Sample qelt =
        Measure("repair", "qelt-fetch", gib, QeltFetch(kPartner, kPackage, Dest("qelt")), Source(), Dest("qelt"));
    Require(qelt.served.chunks == expected, "repair, qelt-fetch: " + std::to_string(qelt.served.ranges) +
                                                " range requests, not exactly the " +
                                                std::to_string(damaged.size()) + " damaged chunks");
    Require(qelt.served.bytes == damagedBytes, "repair, qelt-fetch: " + std::to_string(qelt.served.bytes) +
                                                   " bytes sent for " + std::to_string(damagedBytes) + " damaged");
}

void E2eBench::Throttled() {
    const double gib = static_cast<double>(package_->TotalBytes()) / kGiB;
    FreshFolder(Dest("aria2c-throttled"));
    Measure("throttled", "aria2c", gib, Aria2("throttled", Dest("aria2c-throttled"), 2, false), Source(),
            Dest("aria2c-throttled"));
    fs::remove_all(Dest("aria2c-throttled"));
    FreshFolder(Dest("qelt-throttled"));
    Measure("throttled", "qelt-fetch", gib,
            QeltFetch(kThrottledPartner, kThrottledPackage, Dest("qelt-throttled")), Source(),
            Dest("qelt-throttled"));
    fs::remove_all(Dest("qelt-throttled"));
}

void E2eBench::Small() {
    const fs::path source = options_.work / "small";
    const double gib = static_cast<double>(BenchPackage(Root(), kSmallPackage, kVersion).TotalBytes()) / kGiB;
    FreshFolder(Dest("curl-small"));
    Measure("2000 small files", "curl --parallel-max 16", gib, Curl(source, kSmallPackage, Dest("curl-small"), 16),
            source, Dest("curl-small"));
    FreshFolder(Dest("aria2c-small"));
    Measure("2000 small files", "aria2c -j 16", gib, Aria2("small", Dest("aria2c-small"), 16, false), source,
            Dest("aria2c-small"));
    FreshFolder(Dest("qelt-small"));
    Measure("2000 small files", "qelt-fetch", gib, QeltFetch(kPartner, kSmallPackage, Dest("qelt-small")), source,
            Dest("qelt-small"));
}

void E2eBench::RunRound(unsigned round) {
    if (Wants("fresh") || Wants("recheck") || Wants("repair")) Fresh();
    if (Wants("recheck")) Recheck();
    if (Wants("repair")) Repair(round);
    if (Wants("throttled")) Throttled();
    if (Wants("small")) Small();
}

void E2eBench::RunMemory() {
    // Room in the page cache and on the disk for the 4 GiB copy.
    fs::remove_all(options_.work / "dest");
    const fs::path source = options_.work / "big";
    const BenchPackage big(Root(), kBigPackage, kVersion);
    const double gib = static_cast<double>(big.TotalBytes()) / kGiB;
    for (unsigned run = 0; run < options_.runs; ++run) {
        FreshFolder(Dest("qelt-big"));
        const Sample sample =
            Measure("4 GiB, 64 KiB chunks", "qelt-fetch", gib, QeltFetch(kPartner, kBigPackage, Dest("qelt-big")),
                    source, Dest("qelt-big"));
        Require(sample.served.ranges >= big.ChunkTotal(), "memory: fewer range requests than chunks");
    }
    fs::remove_all(Dest("qelt-big"));
}

const Row* FindRow(const std::vector<Row>& rows, const std::string& phase, const std::string& program) {
    for (const auto& row : rows)
        if (row.phase == phase && row.program.starts_with(program)) return &row;
    return nullptr;
}

void E2eBench::PrintTable() const {
    std::printf(
        "\n| phase | program | seconds | min-max | CPU s | CPU s/GiB | nginx CPU s | peak RSS MiB | peak anon MiB "
        "| requests | MiB sent | wall vs aria2c |\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const auto& row : rows_) {
        double low = row.samples[0].usage.seconds, high = low;
        for (const auto& sample : row.samples) {
            low = std::min(low, sample.usage.seconds);
            high = std::max(high, sample.usage.seconds);
        }
        const double rss =
            MedianOf(row, [](const Sample& s) { return static_cast<double>(s.usage.peakRssKiB) / 1024; });
        const double requests =
            MedianOf(row, [](const Sample& s) { return static_cast<double>(s.served.requests); });
        const double sent = MedianOf(row, [](const Sample& s) { return static_cast<double>(s.served.bytes); });
        const double nginxCpu = MedianOf(row, [](const Sample& s) { return s.nginxCpuSeconds; });
        char versus[16] = "-";
        const Row* aria2 = FindRow(rows_, row.phase, "aria2c");
        if (aria2 && aria2 != &row) std::snprintf(versus, sizeof versus, "%.2fx", Seconds(row) / Seconds(*aria2));
        std::printf("| %s | %s | %.3f | %.3f-%.3f | %.2f | %.2f | %.2f | %.0f | %.1f | %.0f | %.1f | %s |\n",
                    row.phase.c_str(), row.program.c_str(), Seconds(row), low, high, Cpu(row),
                    Cpu(row) / row.packageGiB, nginxCpu, rss, AnonMiB(row), requests, sent / (1 << 20), versus);
    }
    if (const Row* throttled = FindRow(rows_, "throttled", "qelt-fetch")) {
        const double slow =
            MedianOf(*throttled, [](const Sample& s) { return static_cast<double>(s.served.throttledBytes); });
        std::printf("\nqelt-fetch took %.1f MiB (median) from the throttled mirror", slow / (1 << 20));
        if (const Row* aria2 = FindRow(rows_, "throttled", "aria2c")) {
            std::printf(", aria2c %.1f MiB", MedianOf(*aria2, [](const Sample& s) {
                                                 return static_cast<double>(s.served.throttledBytes);
                                             }) / (1 << 20));
        }
        std::printf(".\n");
    }
    if (const Row* repair = FindRow(rows_, "repair", "qelt-fetch")) {
        std::printf(
            "qelt-fetch's repair asked for exactly the %zu damaged chunks in every run (%.0f range "
            "requests, %.1f MiB)",
            kDamagedChunks,
            MedianOf(*repair, [](const Sample& s) { return static_cast<double>(s.served.ranges); }),
            MedianOf(*repair, [](const Sample& s) { return static_cast<double>(s.served.bytes); }) / (1 << 20));
        if (const Row* aria2 = FindRow(rows_, "repair", "aria2c"))
            std::printf(
                "; aria2c -V %.0f requests, %.1f MiB",
                MedianOf(*aria2, [](const Sample& s) { return static_cast<double>(s.served.requests); }),
                MedianOf(*aria2, [](const Sample& s) { return static_cast<double>(s.served.bytes); }) / (1 << 20));
        std::printf(".\n");
    }
}

void PrintTarget(const char* target, const std::string& measured, bool met) {
    std::printf("| %s | %s | %s |\n", target, measured.c_str(), met ? "met" : "NOT met");
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void E2eBench::PrintTargets() const {
    std::printf("\n| target | measured (medians) | |\n|---|---|---|\n");
    const Row* fresh = FindRow(rows_, "fresh", "qelt-fetch");
    if (fresh) {
        if (const Row* aria2 = FindRow(rows_, "fresh", "aria2c")) {
            const double ratio = Seconds(*fresh) / Seconds(*aria2);
            PrintTarget("fresh fetch <= 0.3 x aria2c", Format("%.2f x", ratio), ratio <= 0.3);
        }
        if (const Row* curl = FindRow(rows_, "fresh", "curl")) {
            const double ratio = Seconds(*fresh) / Seconds(*curl);
            PrintTarget("fresh fetch <= curl's sequential fetch", Format("%.2f x", ratio), ratio <= 1.0);
        }
        const double perGiB = Cpu(*fresh) / fresh->packageGiB;
        PrintTarget("CPU <= 1.0 s per GiB (fresh fetch)", Format("%.2f s", perGiB), perGiB <= 1.0);
    }
    const Row* recheck = FindRow(rows_, "re-check", "qelt-fetch");
    const Row* recheckAria2 = FindRow(rows_, "re-check", "aria2c");
    if (recheck && recheckAria2) {
        const double ratio = Seconds(*recheck) / Seconds(*recheckAria2);
        PrintTarget("re-check <= 0.35 x aria2c -V", Format("%.2f x", ratio), ratio <= 0.35);
    }
    if (FindRow(rows_, "repair", "qelt-fetch"))
        PrintTarget("repair fetches exactly the damaged chunks", "10 of 10 in every run (checked)", true);
    const Row* small = FindRow(rows_, "2000 small files", "qelt-fetch");
    const Row* smallAria2 = FindRow(rows_, "2000 small files", "aria2c");
    if (small && smallAria2) {
        const double ratio = Seconds(*small) / Seconds(*smallAria2);
        PrintTarget("2000 small files <= 0.2 x aria2c", Format("%.2f x", ratio), ratio <= 0.2);
    }
    const Row* throttled = FindRow(rows_, "throttled", "qelt-fetch");
    if (throttled && fresh) {
        const double ratio = Seconds(*throttled) / Seconds(*fresh);
        PrintTarget("throttled mirror <= 1.10 x four healthy ones", Format("%.2f x", ratio), ratio <= 1.10);
    }
    if (const Row* memory = FindRow(rows_, "4 GiB, 64 KiB chunks", "qelt-fetch")) {
        const double peak =
            MedianOf(*memory, [](const Sample& s) { return static_cast<double>(s.usage.peakAnonKiB) / 1024; });
        PrintTarget("anonymous memory < 64 MiB (4 GiB, 64 KiB chunks)", Format("%.1f MiB", peak), peak < 64);
    }
}

Options ParseOptions(int argc, char** argv) {
    if (argc < 4) throw BenchFailure("usage: qelt_e2e_bench WORK FETCH PUBLISH [runs] [phases]");
    Options options;
    options.work = argv[1];
    options.fetch = argv[2];
    options.publish = argv[3];
    if (argc > 4) options.runs = static_cast<unsigned>(std::max(1, std::stoi(argv[4])));
    if (argc > 5) {
        options.phases.clear();
        std::istringstream list(argv[5]);
        for (std::string phase; std::getline(list, phase, ',');) {
            Require(std::find(kAllPhases.begin(), kAllPhases.end(), phase) != kAllPhases.end(),
                    "unknown phase " + phase);
            options.phases.insert(phase);
        }
    }
    return options;
}

int Run(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    CatchInterrupts();
    test::NginxOptions serve{options.work / "root", kMirrors + 1, {}, 1};
    serve.rateLimits.assign(kMirrors + 1, 0);
    serve.rateLimits[kThrottledPort] = kThrottledRate;
    fs::create_directories(serve.root);
    const test::NginxServer nginx(serve);

    E2eBench bench(options, nginx);
    bench.Prepare();
    for (unsigned round = 0; round < options.runs; ++round) {
        bench.RunRound(round);
        std::fprintf(stderr, "round %u of %u done, load average %s", round + 1, options.runs,
                     [] {
                         std::ifstream load("/proc/loadavg");
                         std::string line;
                         std::getline(load, line);
                         return line.substr(0, line.find(' ', line.find(' ', line.find(' ') + 1) + 1)) + "\n";
                     }()
                         .c_str());
    }
    if (options.phases.count("memory")) bench.RunMemory();
    bench.PrintTable();
    bench.PrintTargets();
    return 0;
}

}  // namespace
}  // namespace qelt::bench

int main(int argc, char** argv) {
    try {
        return qelt::bench::Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "e2e bench: " << error.what() << "\n";
        return qelt::bench::Interrupted() ? 130 : 1;
    }
}

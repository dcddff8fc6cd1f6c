#include "tests/e2e/fetch_fixture.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Range(std::uint64_t first, std::uint64_t last) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

FetchTest::FetchTest()
    : source(work / "source"),
      root(work / "root"),
      dest(work / "dest"),
      scratch(work / "scratch"),
      programTemp(work / "tmp") {
    for (const auto& folder : {source, root, scratch, programTemp})
        fs::create_directories(folder);
}

std::vector<SourceFile> FetchTest::StandardPackage() {
    std::string script = "#!/bin/sh\necho started\nexit 0\n";
    script += MakeTestContent(200000 + 17 - script.size(), 1);
    return {
        {"bin/start", script},
        {"tools/helper.exe", MakeTestContent(150001, 2)},
        {"data/level 1#a.pak", MakeTestContent(1500003, 3)},
        {"data/exact.bin", MakeTestContent(4 * kFetchChunkSize, 4)},
        {"readme.txt", MakeTestContent(1234, 5)},
    };
}

void FetchTest::Publish(const std::vector<SourceFile>& package, const std::string& run,
                        const std::vector<std::string>& nodes) {
    files = package;
    for (const auto& file : files) {
        fs::create_directories((source / file.path).parent_path());
        std::ofstream(source / file.path, std::ios::binary) << file.content;
    }
    std::vector<std::string> arguments = {source.string(), "--out",        root.string(), "--partner",
                                          kFetchPartner,   "--package",    kFetchPackage, "--version",
                                          kFetchVersion,   "--chunk-size", "64K",         "--current"};
    if (!run.empty()) arguments.insert(arguments.end(), {"--run", run});
    for (const auto& node : nodes)
        arguments.insert(arguments.end(), {"--node", node});
    const ProgramResult published = RunProgram(QELT_PUBLISH_PROGRAM, arguments, scratch);
    ASSERT_EQ(published.exitCode, 0) << published.err;
}

void FetchTest::ServeStandardPackage(std::size_t ports, std::uint64_t rate) {
    NginxOptions options;
    options.root = root;
    options.ports = ports;
    options.rateLimits.assign(ports, rate);
    nginx = std::make_unique<NginxServer>(options);
    std::vector<std::string> nodes;
    for (std::uint16_t port : nginx->Ports())
        nodes.push_back(Host(port));
    Publish(StandardPackage(), "bin/start", nodes);
}

std::vector<std::string> FetchTest::FetchArguments(const std::string& host,
                                                   const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"--host",    host,          "--partner", kFetchPartner,
                                          "--package", kFetchPackage, "--dest",    dest.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

namespace {

std::vector<std::string> FetchEnvironment(const fs::path& temp, const std::vector<std::string>& extra) {
    std::vector<std::string> environment = {
        "TMPDIR=" + temp.string(), "http_proxy=", "HTTP_PROXY=", "LC_ALL=C", "LANG=C", "LANGUAGE="};
    environment.insert(environment.end(), extra.begin(), extra.end());
    return environment;
}

}  // namespace

ProgramResult FetchTest::Fetch(const std::string& host, const std::vector<std::string>& extra,
                               const std::vector<std::string>& environment) {
    return RunProgram(QELT_FETCH_PROGRAM, FetchArguments(host, extra), scratch,
                      FetchEnvironment(programTemp, environment));
}

std::unique_ptr<ChildProgram> FetchTest::StartFetch(const std::string& host,
                                                    const std::vector<std::string>& extra) {
    return std::make_unique<ChildProgram>(QELT_FETCH_PROGRAM, FetchArguments(host, extra), scratch,
                                          FetchEnvironment(programTemp, {}));
}

void FetchTest::ExpectIdentical() const {
    std::set<std::string> expected;
    for (const auto& file : files) {
        expected.insert(file.path);
        // EXPECT_EQ on megabytes would print them all.
        const std::string fetched = ReadFile(dest / file.path);
        EXPECT_EQ(fetched.size(), file.content.size()) << file.path;
        EXPECT_TRUE(fetched == file.content) << file.path << " differs from the source";
    }
    std::set<std::string> present;
    for (const auto& entry : fs::recursive_directory_iterator(dest))
        if (!entry.is_directory()) present.insert(fs::relative(entry.path(), dest).string());
    EXPECT_EQ(present, expected);
}

std::set<ChunkRef> FetchTest::AllChunks() const {
    std::set<ChunkRef> chunks;
    for (const auto& file : files) {
        for (std::uint64_t first = 0; first < file.content.size(); first += kFetchChunkSize) {
            const std::uint64_t last = std::min<std::uint64_t>(first + kFetchChunkSize, file.content.size()) - 1;
            chunks.insert({MirrorPath(file.path), Range(first, last), last - first + 1});
        }
    }
    return chunks;
}

std::set<ChunkRef> FetchTest::DamagedChunks() const {
    std::set<ChunkRef> damaged;
    for (const auto& file : files) {
        const std::string fetched = ReadFile(dest / file.path);
        for (std::uint64_t first = 0; first < file.content.size(); first += kFetchChunkSize) {
            const std::uint64_t length = std::min<std::uint64_t>(kFetchChunkSize, file.content.size() - first);
            if (fetched.size() < first + length ||
                fetched.compare(first, length, file.content, first, length) != 0)
                damaged.insert({MirrorPath(file.path), Range(first, first + length - 1), length});
        }
    }
    return damaged;
}

std::set<ChunkRef> FetchTest::RequestedChunks(std::size_t first) const {
    std::set<ChunkRef> requested;
    const auto log = nginx->AccessLog();
    for (std::size_t i = first; i < log.size(); ++i) {
        if (log[i].range.empty()) continue;
        EXPECT_EQ(log[i].status, 206) << log[i].path << " " << log[i].range;
        requested.insert({log[i].path, log[i].range, log[i].bodyBytes});
    }
    return requested;
}

std::size_t FetchTest::SettledLogSize() const {
    std::size_t size = nginx->AccessLog().size();
    for (int quiet = 0, round = 0; quiet < 5 && round < 100; ++round) {
        std::this_thread::sleep_for(50ms);
        const std::size_t now = nginx->AccessLog().size();
        quiet = now == size ? quiet + 1 : 0;
        size = now;
    }
    return size;
}

bool FetchTest::IsExecutable(const std::string& path) const {
    std::error_code error;
    const fs::perms permissions = fs::status(dest / path, error).permissions();
    return !error && (permissions & fs::perms::owner_exec) != fs::perms::none;
}

std::string FetchTest::MirrorPath(const std::string& path) {
    return std::string("/packages/") + kFetchPartner + "/" + kFetchPackage + "/" + kFetchVersion + "/" + path;
}

std::string FetchTest::DeadHost() {
    // A server that refuses connections keeps its port from the other listeners of this test.
    auto& server = refusing_.emplace_back(std::make_unique<TestHttpServer>());
    server->SetRefusingConnections(true);
    return Host(server->Port());
}

}  // namespace qelt::test

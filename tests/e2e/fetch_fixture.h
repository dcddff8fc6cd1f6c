#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"

namespace qelt::test {

inline constexpr char kFetchPartner[] = "partner-7";
inline constexpr char kFetchPackage[] = "game";
inline constexpr char kFetchVersion[] = "1.0";
inline constexpr std::uint32_t kFetchChunkSize = 64 * 1024;

struct SourceFile {
    std::string path;
    std::string content;
};

// One chunk of a published file, as a range request names it.
struct ChunkRef {
    std::string path;   // on the mirror, as nginx logs it
    std::string range;  // "bytes=first-last"
    std::uint64_t length = 0;

    auto operator<=>(const ChunkRef&) const = default;
};

// The real programs on real folders: a package written into a source folder and published with qelt-publish
// into a mirror root, fetched with qelt-fetch into a destination. The fetch runs with a temporary directory of the
// test (for its records and logs), without a proxy, and in English unless a test says otherwise.
class FetchTest : public ::testing::Test {
protected:
    FetchTest();

    // Several files: the run file (a script), a program by extension, a file in a sub-folder whose name holds a
    // space and a "#", one of exactly four chunks and one shorter than a chunk. About 2 MiB.
    static std::vector<SourceFile> StandardPackage();

    // Writes `files` into the source folder and publishes them as the current version, `run` as its run path,
    // with a node list of `nodes` (HOST:PORT each).
    void Publish(const std::vector<SourceFile>& files, const std::string& run,
                 const std::vector<std::string>& nodes);
    // Starts nginx on `ports` loopback ports serving the mirror root, each port limited to `rate` bytes per
    // second per response when not 0, and publishes the standard package with every port as a node.
    void ServeStandardPackage(std::size_t ports = 4, std::uint64_t rate = 0);

    std::vector<std::string> FetchArguments(const std::string& host,
                                            const std::vector<std::string>& extra = {}) const;
    ProgramResult Fetch(const std::string& host, const std::vector<std::string>& extra = {},
                        const std::vector<std::string>& environment = {});
    std::unique_ptr<ChildProgram> StartFetch(const std::string& host, const std::vector<std::string>& extra = {});

    // Every file of the package in the destination has the source's bytes, and nothing else is there.
    void ExpectIdentical() const;
    // The chunks of the published files whose bytes in the destination differ from the source (or are missing).
    std::set<ChunkRef> DamagedChunks() const;
    // Every chunk of the published files.
    std::set<ChunkRef> AllChunks() const;
    // The chunks that the range requests of the access log's entries from `first` on asked for.
    std::set<ChunkRef> RequestedChunks(std::size_t first) const;
    // Waits until nginx has logged every request it is still serving (the count stays put for a moment).
    std::size_t SettledLogSize() const;

    bool IsExecutable(const std::string& path) const;
    static std::string MirrorPath(const std::string& path);
    static std::string Host(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }
    // "HOST:PORT" of a loopback port where nothing listens, for the rest of the test.
    std::string DeadHost();

    TempDir work;
    const std::filesystem::path source;
    const std::filesystem::path root;
    const std::filesystem::path dest;
    const std::filesystem::path scratch;
    const std::filesystem::path programTemp;  // the fetch's $TMPDIR
    std::vector<SourceFile> files;
    std::unique_ptr<NginxServer> nginx;

private:
    std::vector<std::unique_ptr<TestHttpServer>> refusing_;
};

}  // namespace qelt::test

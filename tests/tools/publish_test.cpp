#include <gtest/gtest.h>

#include <boost/crc.hpp>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "http/http_proxy.h"
#include "http/http_request_factory.h"
#include "manifest/file_manifest.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_list_manifest_factory.h"
#include "manifest/node_manifest.h"
#include "manifest/package_manifest.h"
#include "manifest/package_manifest_factory.h"
#include "pipeline/optimized_request_params.h"
#include "pipeline/status_data.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"
#include "tools/qelt_publish/mirror_check.h"
#include "tools/qelt_publish/package_document.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/publisher.h"
#include "tools/qelt_publish/sha256.h"

namespace qelt::publish {
namespace {

namespace fs = std::filesystem;
using test::MakeTestContent;

constexpr std::uint32_t kChunk = 4096;

std::string ReadFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::uint32_t ReferenceCrc(std::string_view bytes) {
    boost::crc_32_type crc;
    crc.process_bytes(bytes.data(), bytes.size());
    return crc.checksum();
}

// Everything under a folder: relative path -> (content, modification time).
std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(const fs::path& folder) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).generic_string();
        files[name] = {entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>", entry.last_write_time()};
    }
    return files;
}

class PublishTest : public ::testing::Test {
protected:
    PublishTest() {
        // Sub-folders, a run file, sizes one byte past and exactly on chunk boundaries, spaces and an ampersand.
        sources_ = {{"bin/run game.sh", MakeTestContent(100, 1)},
                    {"data/level one.pak", MakeTestContent(3 * kChunk + 1, 2)},
                    {"data/exact.bin", MakeTestContent(2 * kChunk, 3)},
                    {"data/deep/er/one.byte", "x"},
                    {"readme & notes.txt", MakeTestContent(kChunk - 1, 4)}};
        for (const auto& [path, content] : sources_)
            WriteFile(source_ / path, content);
        server_.ServeFolder(root_);
    }

    PublishOptions Options(const std::string& version) const {
        PublishOptions options;
        options.source = source_;
        options.root = root_;
        options.partnerId = "partner";
        options.packageId = "pkg";
        options.versionId = version;
        options.name = "Fish & Chips";
        options.run = "bin/run game.sh";
        options.chunkSize = kChunk;
        options.nodes = {NodeAddress{Host(), "/packages/"}};
        options.current = true;
        return options;
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

    // The bytes the engine's chunk request for that chunk of the package receives from the mirror.
    std::string FetchChunk(const PackageManifest& package, const std::shared_ptr<NodeManifest>& node,
                           const FileManifest& file, std::uint32_t chunk) {
        const ChunkRange range = GetChunkRange(file.GetChunkSize(), file.GetSize(), chunk);
        TransferParams params;
        params.partnerId = package.GetPartnerId();
        params.packageId = package.GetId();
        params.versionId = package.GetVersionId();
        auto fileData = std::make_shared<TransferSharedFileData>(file.GetPath(), file.GetSize());
        OptimizedRequestParams request(
            nullptr, params,
            std::make_shared<TransferSharedMapData>(fileData, range.lowerBound, range.upperBound, 0u, nullptr));
        request.SelectedNode = node;
        std::stringstream body;
        HttpStringstreamWriter writer(body);
        HttpRequestParams http(request.ToUrl(), &writer);
        http.RangeStart = range.lowerBound;
        http.RangeEnd = range.upperBound;
        const auto status = requests_.CreateRequest(http, nullptr)->Perform();
        EXPECT_EQ(status.State, HttpRequestResult::Succeeded) << http.Url;
        return body.str();
    }

    test::TempDir dir_;
    fs::path source_ = dir_ / "source";
    fs::path root_ = dir_ / "root";
    std::map<std::string, std::string> sources_;
    test::TestHttpServer server_;
    EmptyHttpProxyFactory proxies_;
    CurlHttpRequestFactory requests_{&proxies_};
    XmlHttpPackageManifestFactory packages_{Host(), &requests_, 2, 5};
    XmlHttpNodeListManifestFactory nodes_{Host(), &requests_, 2, 5};
};

TEST_F(PublishTest, EngineReadsThePackageFromTheServedRootAndEveryChunkVerifies) {
    const PublishResult result = Publish(Options("1"));
    EXPECT_FALSE(result.unchanged);
    EXPECT_EQ(result.files, sources_.size());

    const auto package = packages_.Create("pkg/1");
    const auto current = packages_.Create("pkg");
    EXPECT_EQ(current->GetVersionId(), "1");
    EXPECT_EQ(package->GetName(), "Fish & Chips");
    EXPECT_EQ(package->GetPartnerId(), "partner");
    ASSERT_TRUE(package->GetRunFile());
    EXPECT_EQ(package->GetRunFile()->GetPath(), "bin/run game.sh");
    const auto nodes = nodes_.Create("partner")->GetNodes();
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(nodes[0]->GetHost(), Host());

    ASSERT_EQ(package->GetFiles().size(), sources_.size());
    auto expected = sources_.begin();  // both in byte order of the paths
    std::uint64_t chunks = 0;
    for (const auto& file : package->GetFiles()) {
        SCOPED_TRACE(file->GetPath());
        EXPECT_EQ(file->GetPath(), expected->first);
        ASSERT_EQ(file->GetSize(), expected->second.size());
        EXPECT_EQ(file->GetChunkSize(), kChunk);
        for (std::uint32_t chunk = 0; chunk < file->GetChecksums().size(); ++chunk, ++chunks) {
            const ChunkRange range = GetChunkRange(kChunk, file->GetSize(), chunk);
            const std::string bytes = FetchChunk(*package, nodes[0], *file, chunk);
            EXPECT_EQ(bytes, expected->second.substr(range.lowerBound, range.upperBound - range.lowerBound + 1));
            EXPECT_EQ(ReferenceCrc(bytes), file->GetChecksums()[chunk]) << "chunk " << chunk;
        }
        ++expected;
    }
    EXPECT_EQ(chunks, result.chunks);
    EXPECT_EQ(chunks, 1u + 4 + 2 + 1 + 1);
}

TEST_F(PublishTest, ChunksThatSpanReadsAndThreadsChecksumLikeWholeChunks) {
    // 768 KiB chunks straddle the hasher's reads, and a 12 MiB file is split between threads.
    constexpr std::uint32_t kLarge = 768 << 10;
    const std::string content = MakeTestContent((12 << 20) + 3, 8);
    fs::remove_all(source_);
    WriteFile(source_ / "large.pak", content);
    PublishOptions options = Options("1");
    options.run.clear();
    options.chunkSize = kLarge;
    options.metalink = true;
    Publish(options);

    const auto package = ReadPackageDocument(ReadFile(root_ / "manifests/pkg/1.xml"));
    ASSERT_EQ(package->GetFiles().size(), 1u);
    const auto& checksums = package->GetFiles()[0]->GetChecksums();
    ASSERT_EQ(checksums.size(), 17u);
    const std::string metalink = ReadFile(root_ / "manifests/pkg/1.meta4");
    for (std::uint32_t chunk = 0; chunk < checksums.size(); ++chunk) {
        const std::string bytes = content.substr(std::uint64_t{chunk} * kLarge, kLarge);
        EXPECT_EQ(checksums[chunk], ReferenceCrc(bytes)) << chunk;
        Sha256 sha;
        sha.Update(bytes.data(), bytes.size());
        EXPECT_NE(metalink.find("<hash>" + ToHex(sha.Finish()) + "</hash>"), std::string::npos) << chunk;
    }
}

TEST_F(PublishTest, RepublishingChangesNothingAndANewVersionLeavesTheOldOneServable) {
    Publish(Options("1"));
    const auto before = Snapshot(root_);
    EXPECT_TRUE(Publish(Options("1")).unchanged);
    EXPECT_EQ(Snapshot(root_), before);

    // The same version with other files is refused, and nothing moves.
    WriteFile(source_ / "data/exact.bin", MakeTestContent(2 * kChunk, 9));
    try {
        Publish(Options("1"));
        ADD_FAILURE() << "a changed version was published again";
    } catch (const PublishError& error) {
        EXPECT_NE(std::string(error.what()).find("file \"data/exact.bin\" differs"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(Snapshot(root_), before);

    Publish(Options("2"));
    EXPECT_EQ(packages_.Create("pkg")->GetVersionId(), "2");
    const auto old = packages_.Create("pkg/1");
    EXPECT_EQ(ReadFile(root_ / "manifests/pkg/1.xml"), before.at("manifests/pkg/1.xml").first);
    EXPECT_EQ(ReadFile(root_ / "packages/partner/pkg/1/data/exact.bin"), MakeTestContent(2 * kChunk, 3));
    EXPECT_TRUE(CheckMirror(root_).Healthy());
    // No temporary names are left beside the documents or the version folders.
    for (const auto& entry : fs::recursive_directory_iterator(root_))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
}

TEST_F(PublishTest, AFolderLeftByAFailedRunIsReplaced) {
    WriteFile(root_ / "packages/partner/pkg/1/stale.bin", "left over");
    Publish(Options("1"));
    EXPECT_FALSE(fs::exists(root_ / "packages/partner/pkg/1/stale.bin"));
    EXPECT_TRUE(CheckMirror(root_).Healthy());
}

TEST_F(PublishTest, AnInterruptedRunLeavesTheRootAsItWas) {
    Publish(Options("1"));
    const auto before = Snapshot(root_);
    // Large enough (and slow enough with SHA-256) that the threads are still at work when the first report comes.
    fs::resize_file(source_ / "data/exact.bin", 64 << 20);
    PublishOptions options = Options("2");
    options.link = true;
    options.metalink = true;
    const auto interrupt = [](std::uint64_t, std::uint64_t) { throw PublishInterrupted("interrupted"); };
    EXPECT_THROW(Publish(options, interrupt), PublishInterrupted);
    // The same names and contents; a folder's date moves with the staging folder made and removed in it.
    const auto after = Snapshot(root_);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, entry] : after)
        EXPECT_EQ(entry.first, before.at(name).first) << name;
}

TEST_F(PublishTest, LinkedFilesAreTheSourceFiles) {
    PublishOptions options = Options("1");
    options.link = true;
    Publish(options);
    for (const auto& [path, content] : sources_)
        EXPECT_TRUE(fs::equivalent(source_ / path, root_ / "packages/partner/pkg/1" / path)) << path;
    EXPECT_TRUE(CheckMirror(root_).Healthy());
}

TEST_F(PublishTest, CheckFindsTheDamagedChunkAndTheMissingFile) {
    Publish(Options("1"));
    CheckReport report = CheckMirror(root_);
    EXPECT_TRUE(report.Healthy());
    EXPECT_EQ(report.manifests, 1u);  // current.xml is the same document as 1.xml
    EXPECT_EQ(report.chunks, 9u);

    const fs::path level = root_ / "packages/partner/pkg/1/data/level one.pak";
    std::string bytes = ReadFile(level);
    bytes[2 * kChunk + 17] ^= 0x01;
    WriteFile(level, bytes);
    fs::remove(root_ / "packages/partner/pkg/1/data/exact.bin");
    report = CheckMirror(root_);
    ASSERT_EQ(report.damaged.size(), 1u);
    EXPECT_EQ(report.damaged[0].file, "packages/partner/pkg/1/data/level one.pak");
    EXPECT_EQ(report.damaged[0].chunk, 2u);
    EXPECT_EQ(report.damaged[0].lowerBound, 2 * kChunk);
    EXPECT_EQ(report.damaged[0].upperBound, 3 * kChunk - 1);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("data/exact.bin: missing"), std::string::npos) << report.problems[0];
}

TEST_F(PublishTest, Aria2FetchesAndVerifiesThroughTheMetalink) {
    const std::string aria2 = test::FindOnPath("aria2c");
    if (aria2.empty()) GTEST_SKIP() << "aria2c is not installed (scripts/install-deps installs it)";
    // aria2 takes the "&#38;" its XML parser makes of an escaped "&" in the file name literally.
    fs::rename(source_ / "readme & notes.txt", source_ / "readme and notes.txt");
    sources_["readme and notes.txt"] = sources_.extract("readme & notes.txt").mapped();
    PublishOptions options = Options("1");
    options.metalink = true;
    Publish(options);
    // The first answer for one file arrives with a flipped byte: only the piece hashes can tell.
    test::HttpFault flip;
    flip.corruptOffset = kChunk + 5;
    flip.corruptLength = 1;
    server_.SetFault("/packages/partner/pkg/1/data/level one.pak", flip, 1);

    const fs::path out = dir_ / "aria2";
    fs::create_directories(out);
    const auto run =
        test::RunProgram(aria2,
                         {"--metalink-file=" + (root_ / "manifests/pkg/1.meta4").string(), "--dir=" + out.string(),
                          "--split=1", "--max-connection-per-server=1", "--allow-overwrite=true",
                          "--console-log-level=warn", "--summary-interval=0", "--quiet=true"},
                         dir_.path());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const auto& [path, content] : sources_)
        EXPECT_TRUE(ReadFile(out / path) == content) << path;
    int requests = 0;
    for (const auto& request : server_.Requests())
        requests += request.path == "/packages/partner/pkg/1/data/level one.pak";
    EXPECT_GE(requests, 2) << "the corrupted piece was not fetched again";
}

}  // namespace
}  // namespace qelt::publish

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>

#include "analytics/json_work_log_manager.h"
#include "pipeline/status_data.h"
#include "tests/pipeline/pipeline_fixture.h"

namespace qelt::test {
namespace {

using ::testing::UnorderedElementsAre;

TransferError ErrorOf(const WorkStatus& status) {
    auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    return data ? data->ToTransferError() : TransferError::None;
}

std::vector<PackageFile> ThreeFiles() {
    return {{"setup.exe", MakeTestContent(3 * 16384 + 100, 1)},
            {"data/a.bin", MakeTestContent(5 * 16384, 2)},
            {"data/b.bin", MakeTestContent(1000, 3)}};
}

void Damage(const std::filesystem::path& path, std::uint64_t offset) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    const char byte = static_cast<char>(~file.get());
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(byte);
}

class PackageTransferTest : public PipelineFixture {};

TEST_F(PackageTransferTest, RunFileFirstThenTheRestWithEveryCounterEndingAtTheSize) {
    Publish(ThreeFiles(), "setup.exe");
    const WorkStatus result = Transfer();
    ASSERT_EQ(result.result, WorkResult::Success) << Describe(result);
    ExpectFilesMatch();

    const TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesTotal, TotalSize());
    EXPECT_EQ(status.bytesDownloaded, TotalSize());
    EXPECT_EQ(status.bytesTransferred, TotalSize());
    EXPECT_EQ(status.bytesVerified, TotalSize());

    const auto requests = ChunkRequests(*mirrors[0]);
    EXPECT_EQ(requests.size(), 4u + 5u + 1u) << "one request per chunk";
    std::uint64_t lastRunFileRequest = 0;
    std::uint64_t firstOtherRequest = std::numeric_limits<std::uint64_t>::max();
    for (const auto& request : requests) {
        if (request.path == FilePath("setup.exe")) {
            lastRunFileRequest = std::max(lastRunFileRequest, request.number);
        } else {
            firstOtherRequest = std::min(firstOtherRequest, request.number);
        }
    }
    EXPECT_LT(lastRunFileRequest, firstOtherRequest) << "the run file completes before the others start";

    std::vector<std::string> milestones;
    for (const auto& report : iface->Reports())
        milestones.push_back(report.milestone);
    ASSERT_EQ(milestones.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(milestones.begin(), milestones.begin() + 2),
                UnorderedElementsAre("package", "nodeList"));
    EXPECT_EQ(milestones[2], "initialize");
    EXPECT_EQ(milestones[3], "complete");

    using std::filesystem::perms;
    EXPECT_NE(std::filesystem::status(dest / "setup.exe").permissions() & perms::owner_exec, perms::none)
        << "the program may run once the package is complete";
    EXPECT_EQ(std::filesystem::status(dest / "data/a.bin").permissions() & perms::owner_exec, perms::none);

    StopTree();
    EXPECT_THAT(iface->CreatedFiles(), UnorderedElementsAre("setup.exe", "data/a.bin", "data/b.bin"));
}

TEST_F(PackageTransferTest, ProgramStaysUnrunnableUntilTheWholePackageIsVerified) {
    const std::vector<PackageFile> files = {{"setup.exe", MakeTestContent(20000, 1)},
                                            {"data.bin", MakeTestContent(20000, 2)}};
    Publish(files, "setup.exe");
    HttpFault unavailable;
    unavailable.status = 503;
    mirrors[0]->SetFault(FilePath("data.bin"), unavailable);
    StartTransfer();
    const auto error = iface->WaitFor("retryableError");
    ASSERT_TRUE(error) << "a chunk that cannot be fetched pauses the workflow";
    EXPECT_TRUE(ReadWholeFile(dest / "setup.exe") == files[0].content);
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(dest / "setup.exe").permissions() & perms::owner_exec, perms::none)
        << "complete, but the package is not";

    mirrors[0]->ClearFaults();
    ASSERT_TRUE(workflow->ResumeAfterError());
    ASSERT_EQ(WaitForRoot().result, WorkResult::Success);
    ExpectFilesMatch();
    EXPECT_NE(std::filesystem::status(dest / "setup.exe").permissions() & perms::owner_exec, perms::none);
}

TEST_F(PackageTransferTest, CompleteFolderIsVerifiedInPlaceWithoutARequest) {
    Publish(ThreeFiles());
    ASSERT_EQ(Transfer().result, WorkResult::Success);
    const std::size_t firstRun = ChunkRequestCount();

    ASSERT_EQ(Transfer().result, WorkResult::Success);
    EXPECT_EQ(ChunkRequestCount(), firstRun);
    const TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesDownloaded, 0u);
    EXPECT_EQ(status.bytesTransferred, TotalSize());
    EXPECT_EQ(status.bytesVerified, TotalSize()) << "every chunk counted verified exactly once";
}

TEST_F(PackageTransferTest, OnlyDamagedChunksAreFetchedAgain) {
    const auto files = ThreeFiles();
    Publish(files, "", 2);
    ASSERT_EQ(Transfer().result, WorkResult::Success);
    const std::size_t firstRun = ChunkRequestCount();

    // Chunk 3 (the short last one) of setup.exe, chunk 1 of a.bin and the only chunk of b.bin.
    const std::vector<std::pair<const PackageFile*, std::uint32_t>> damaged = {
        {&files[0], 3}, {&files[1], 1}, {&files[2], 0}};
    std::uint64_t damagedBytes = 0;
    std::vector<std::string> expectedRanges;
    for (const auto& [file, index] : damaged) {
        const ChunkRange range = file->Chunk(index);
        Damage(dest / file->path, range.upperBound);
        damagedBytes += range.upperBound - range.lowerBound + 1;
        expectedRanges.push_back(FilePath(file->path) + " bytes=" + std::to_string(range.lowerBound) + "-" +
                                 std::to_string(range.upperBound));
    }

    ASSERT_EQ(Transfer().result, WorkResult::Success);
    ExpectFilesMatch();
    std::vector<std::string> ranges;
    for (const auto& mirror : mirrors) {
        for (const auto& request : ChunkRequests(*mirror))
            ranges.push_back(request.path + " " + request.Header("Range").value_or(""));
    }
    ASSERT_EQ(ChunkRequestCount() - firstRun, damaged.size());
    for (const auto& expected : expectedRanges)
        EXPECT_EQ(std::count(ranges.begin(), ranges.end(), expected), 2) << expected << ": once per run";
    const TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesDownloaded, damagedBytes);
    EXPECT_EQ(status.bytesVerified, TotalSize());
    EXPECT_EQ(status.bytesTransferred, TotalSize());
}

// In a new file an all-zero chunk is already right and is not requested, even where a file of another size held
// other bytes before; once the file exists, such a chunk is read like any other, so a damaged one is fetched
// again.
TEST_F(PackageTransferTest, ZeroChunksOfANewFileAreNotRequestedButAreRepairedLater) {
    std::string content = MakeTestContent(4 * 16384 + 100, 7);
    std::fill_n(content.begin() + 16384, 16384, '\0');
    std::fill(content.begin() + 4 * 16384, content.end(), '\0');  // the short last chunk
    const PackageFile file{"data.bin", content};
    Publish({file});
    std::filesystem::create_directories(dest.path());
    std::ofstream(dest / file.path, std::ios::binary) << MakeTestContent(content.size() + 9, 8);
    ASSERT_EQ(Transfer().result, WorkResult::Success);
    ExpectFilesMatch();
    EXPECT_EQ(ChunkRequestCount(), 3u);
    TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesDownloaded, 3u * 16384u);
    EXPECT_EQ(status.bytesVerified, TotalSize());
    EXPECT_EQ(status.bytesTransferred, TotalSize());

    Damage(dest / file.path, 16384 + 5);
    ASSERT_EQ(Transfer().result, WorkResult::Success);
    ExpectFilesMatch();
    const auto requests = ChunkRequests(*mirrors[0]);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests.back().Header("Range").value_or(""), "bytes=16384-32767");
    status = iface->Status();
    EXPECT_EQ(status.bytesDownloaded, 16384u);
    EXPECT_EQ(status.bytesVerified, TotalSize());
}

TEST_F(PackageTransferTest, WorkLogHearsEveryCompletionAndRetryOfTheTree) {
    TempDir logs;
    Services().workLog = std::make_unique<JsonWorkLogManager>(-1, logs.path().string(), &Services().files);
    const PackageFile file{"data.bin", MakeTestContent(2 * 16384, 6)};
    Publish({file}, "", 2);
    HttpFault unavailable;
    unavailable.status = 503;
    mirrors[0]->SetFault(FilePath(file.path), unavailable);
    ASSERT_EQ(Transfer().result, WorkResult::Success);
    StopTree();
    Services().workLog.reset();  // writes every entry still queued

    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(logs.path()))
        log += ReadWholeFile(entry.path());
    const auto entries = [&](const std::string& text) {
        std::size_t count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    };
    EXPECT_EQ(entries(R"("name":"TransferPackageWork","important":"true","transferId":"t1")"), 1u);
    EXPECT_EQ(entries(R"("name":"GetPackageManifestWork","important":"true")"), 1u);
    EXPECT_EQ(entries(R"("name":"TransferSingleChunkWork")"), 2u);
    EXPECT_EQ(entries(R"("name":"ReleaseChunkMapWork")"), 2u);
    EXPECT_EQ(entries(R"("event":"OnSimpleWorkRetry")"), ChunkRequests(*mirrors[0]).size())
        << "every failed request at the unavailable mirror was retried elsewhere";
    EXPECT_GE(entries(R"("filePath":"data.bin","fileSize":"32768","lowerBound":"16384")"), 1u);
}

TEST_F(PackageTransferTest, UnreadableManifestIsRetriedFiveTimesThenPausesTheWorkflow) {
    Publish(ThreeFiles());
    const std::string manifest = std::string("/manifests/") + kPackage + "/current.xml";
    HttpFault unavailable;
    unavailable.status = 503;
    manifests.SetFault(manifest, unavailable);
    StartTransfer();
    const auto error = iface->WaitFor("retryableError");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->result, WorkResult::RetryableError);
    EXPECT_EQ(ErrorOf(*error), TransferError::ConnectionError);
    EXPECT_TRUE(workflow->IsErrorPaused());
    std::size_t attempts = 0;
    for (const auto& request : manifests.Requests())
        attempts += request.path == manifest;
    EXPECT_EQ(attempts, 5u);
    EXPECT_EQ(iface->CountOf("complete"), 0u);
}

TEST_F(PackageTransferTest, BadManifestsEndTheTransfer) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string versionId;
        TransferError error;
    };
    const std::vector<Case> cases = {
        {"missing package manifest",
         [this] { manifests.RemoveFile(std::string("/manifests/") + kPackage + "/current.xml"); }, "?",
         TransferError::ManifestError},
        {"empty node list", [this] { SetNodeList({}); }, "?", TransferError::ManifestError},
        {"package without files",
         [this] { manifests.AddFile(std::string("/manifests/") + kPackage + "/current.xml", PackageXml({})); },
         "?", TransferError::InternalError},
        {"another version than asked for",
         [this] {
             manifests.AddFile(std::string("/manifests/") + kPackage + "/v2.xml", PackageXml(ThreeFiles()));
         },
         "v2", TransferError::ManifestError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Publish(ThreeFiles());
        c.arrange();
        const WorkStatus status = Transfer(c.versionId);
        EXPECT_EQ(status.result, WorkResult::FatalError);
        EXPECT_EQ(ErrorOf(status), c.error);
        EXPECT_EQ(iface->CountOf("retryableError"), 0u) << "no retry for a bad document";
        EXPECT_EQ(ChunkRequestCount(), 0u);
    }
}

}  // namespace
}  // namespace qelt::test

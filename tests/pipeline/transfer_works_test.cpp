#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <fstream>

#include "http/http_session.h"
#include "pipeline/allow_execute_work.h"
#include "pipeline/initialize_transfer_work.h"
#include "pipeline/optimized_request_chunk_work.h"
#include "pipeline/transfer_http_writer.h"
#include "pipeline/transfer_single_chunk_work.h"
#include "pipeline/transfer_single_file_work.h"
#include "tests/pipeline/pipeline_fixture.h"
#include "tests/support/posix_undeletable_file.h"
#include "work/deferred_work.h"
#include "work/no_op_work.h"

namespace qelt::test {
namespace {

using std::filesystem::perms;

constexpr perms kAnyExec = perms::owner_exec | perms::group_exec | perms::others_exec;

void WriteFile(const std::filesystem::path& path, const std::string& content, perms mode = perms(0644)) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    std::filesystem::permissions(path, mode);
}

perms ModeOf(const std::filesystem::path& path) {
    return std::filesystem::status(path).permissions();
}

std::string DataMessage(const WorkStatus& status) {
    auto error = std::dynamic_pointer_cast<WorkErrorData>(status.data);
    return error ? error->Message() : std::string();
}

class FileWorkTest : public PipelineFixture {
protected:
    WorkStatus OpenAndAllocate(const std::string& path, std::uint64_t size) {
        if (!iface) iface = NewInterface(kVersion);
        fileData = std::make_shared<TransferSharedFileData>(path, size);
        work = std::make_shared<OpenAndAllocateFileWork>(iface, fileData);
        return work->Run();
    }

    std::shared_ptr<TransferSharedFileData> fileData;
    std::shared_ptr<OpenAndAllocateFileWork> work;
};

TEST_F(FileWorkTest, NewProgramIsDeniedExecutionOnceAllocated) {
    WriteFile(dest / "tool.exe", "", perms(0755));
    ASSERT_EQ(OpenAndAllocate("tool.exe", 5000).result, WorkResult::Success);
    ASSERT_TRUE(fileData->file);
    EXPECT_EQ(fileData->file->GetSize(), 5000u);
    EXPECT_TRUE(fileData->allocatedFresh) << "found empty, so all zeros once allocated";
    EXPECT_EQ(ModeOf(dest / "tool.exe") & kAnyExec, perms::none);
}

TEST_F(FileWorkTest, FileOfTheRightSizeIsUsedAsItIs) {
    const std::string content = MakeTestContent(5000, 2);
    WriteFile(dest / "tool.exe", content, perms(0755));
    ASSERT_EQ(OpenAndAllocate("tool.exe", 5000).result, WorkResult::Success);
    EXPECT_EQ(ModeOf(dest / "tool.exe"), perms(0755)) << "its execute permission is not touched";
    EXPECT_FALSE(fileData->allocatedFresh) << "its bytes must be read";
    fileData->file.reset();
    EXPECT_TRUE(ReadWholeFile(dest / "tool.exe") == content);
}

TEST_F(FileWorkTest, FileOfAnotherSizeIsCreatedAgain) {
    WriteFile(dest / "sub/data.bin", MakeTestContent(5007, 2));
    ASSERT_EQ(OpenAndAllocate("sub/data.bin", 5000).result, WorkResult::Success);
    EXPECT_TRUE(fileData->allocatedFresh);
    fileData->file.reset();
    EXPECT_TRUE(ReadWholeFile(dest / "sub/data.bin") == std::string(5000, '\0'));

    // Run again, as a retry of the file does: the file it finds now is its own, no longer known to be zeros.
    WriteFile(dest / "sub/data.bin", MakeTestContent(5000, 3));
    work->Reset();
    ASSERT_EQ(work->Run().result, WorkResult::Success);
    EXPECT_FALSE(fileData->allocatedFresh);
}

TEST_F(FileWorkTest, FileOfAnotherSizeThatCannotBeDeletedIsRetryable) {
    WriteFile(dest / "sub/data.bin", MakeTestContent(5007, 2));
    UndeletableFile undeletable(dest / "sub/data.bin");
    if (!undeletable.Usable()) GTEST_SKIP() << "no way to make a file undeletable here";
    const WorkStatus status = OpenAndAllocate("sub/data.bin", 5000);
    EXPECT_EQ(status.result, WorkResult::RetryableError);
    auto data = std::dynamic_pointer_cast<TransferFileExceptionData>(status.data);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ToTransferError(), TransferError::DiskAccessError);
    EXPECT_FALSE(fileData->file);
}

TEST_F(FileWorkTest, AllowExecuteLiftsTheBanFromProgramsOnly) {
    iface = NewInterface(kVersion);
    auto work = std::make_shared<AllowExecuteWork>(iface);
    WorkStatus status = work->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(DataMessage(status), "AllowExecuteWork::ExecuteTask has no package");

    iface->SetPackage(ReadPackage({{"tool.exe", "x"}, {"data.bin", "y"}}));
    WriteFile(dest / "tool.exe", "x", perms(0644));
    WriteFile(dest / "data.bin", "y", perms(0644));
    ASSERT_EQ(work->Run().result, WorkResult::Success);
    EXPECT_EQ(ModeOf(dest / "tool.exe"), perms(0755));
    EXPECT_EQ(ModeOf(dest / "data.bin"), perms(0644));

    std::filesystem::remove(dest / "tool.exe");
    status = work->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError) << "a program that is gone cannot be made runnable";
    auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ToTransferError(), TransferError::DiskAccessError);
}

class ChunkWorkTest : public PipelineFixture {};

TEST_F(ChunkWorkTest, WriterCountsEveryBlockAndRefusesOnePastTheRange) {
    const std::string content = MakeTestContent(100, 5);
    auto mapData = MapChunk({"unused:1"}, "chunk.bin", content);
    TransferHttpWriter writer(mapData);

    EXPECT_EQ(writer.Write(content.data(), 0).State, HttpRequestResult::Succeeded);
    HttpRequestStatus answer = writer.Write(content.data(), 60);
    EXPECT_EQ(answer.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(answer.BytesReceived, 60u);
    answer = writer.Write(content.data() + 60, 41);
    EXPECT_EQ(answer.State, HttpRequestResult::RangeFailed) << "the server sent more than the range";
    EXPECT_EQ(answer.BytesReceived, 0u);
    TransferStatus status = iface->Status();
    EXPECT_EQ(status.bytesTransferred, 60u);
    EXPECT_EQ(status.bytesDownloaded, 60u);
    EXPECT_EQ(mapData->fileProgressBytes, 60u);

    DiscardChunk(*mapData);
    EXPECT_EQ(iface->Status().bytesTransferred, 0u);
    EXPECT_EQ(writer.Write(content.data(), 100).BytesReceived, 100u) << "written again from the first byte";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapData->view->Data()), 100), content);
    SettleChunkProgress(*mapData);
    status = iface->Status();
    EXPECT_EQ(status.bytesTransferred, 100u);
    EXPECT_EQ(status.bytesVerified, 100u);
    EXPECT_EQ(status.bytesDownloaded, 160u) << "downloaded bytes are never taken back";
}

// In a freshly allocated file an all-zero chunk is judged from its length; once a download has written there, what
// is on disk is read again, even though the file was fresh.
TEST_F(ChunkWorkTest, FreshZerosAreKnownOnlyUntilADownloadWrites) {
    const PackageFile zeros{"zeros.bin", std::string(20000, '\0')};
    Publish({zeros});
    HttpFault corrupt;
    corrupt.corruptLength = 1;
    mirrors[0]->SetFault(FilePath(zeros.path), corrupt);
    auto mapData = MapChunk({HostOf(*mirrors[0])}, zeros.path, zeros.content);
    mapData->fileData->allocatedFresh = true;
    auto verifyInPlace = std::make_shared<VerifyChunkWork>(iface, mapData);
    ASSERT_EQ(std::make_shared<MutexPrefetchChunkWork>(iface, mapData)->Run().result, WorkResult::Success);
    EXPECT_EQ(verifyInPlace->Run().result, WorkResult::Success);

    auto request = std::make_shared<OptimizedRequestChunkWork>(iface, Services().sessions.Create(), mapData, 0);
    ASSERT_EQ(request->Run().result, WorkResult::Success);
    EXPECT_EQ(std::make_shared<VerifyChunkWork>(iface, mapData, request)->Run().result, WorkResult::Failure);
    verifyInPlace->Reset();
    const WorkStatus status = verifyInPlace->Run();
    EXPECT_EQ(status.result, WorkResult::Failure) << "the corrupted byte on disk is read, not assumed zero";
    auto checksum = std::dynamic_pointer_cast<ChecksumStatusData>(status.data);
    ASSERT_TRUE(checksum);
    EXPECT_NE(checksum->ActualChecksum(), Crc32(zeros.content));
}

TEST_F(ChunkWorkTest, WorksWithoutTheirSharedDataFailWithTheirOwnText) {
    const std::string content = MakeTestContent(100, 5);
    auto mapData = MapChunk({"unused:1"}, "chunk.bin", content);
    mapData->view.reset();
    auto session = Services().sessions.Create();
    auto unopened = std::make_shared<TransferSharedFileData>("other.bin", 100);
    auto unopenedMap = std::make_shared<TransferSharedMapData>(unopened, 0, 99, 0u, iface->GetProgressUpdater());

    const std::vector<std::pair<std::shared_ptr<SimpleWork>, std::string>> cases = {
        {std::make_shared<CreateChunkMapWork>(iface, unopenedMap),
         "CreateChunkMapWork::ExecuteTask has no shared file"},
        {std::make_shared<MutexPrefetchChunkWork>(iface, mapData),
         "MutexPrefetchChunkWork::ExecuteTask has no shared map"},
        {std::make_shared<VerifyChunkWork>(iface, mapData), "VerifyChunkWork::ExecuteTask has no shared map"},
        {std::make_shared<OptimizedRequestChunkWork>(iface, session, mapData, 4),
         "OptimizedRequestChunkWork::ExecuteTask has no shared map"},
    };
    for (const auto& [work, message] : cases) {
        const WorkStatus status = work->Run();
        EXPECT_EQ(status.result, WorkResult::FatalError) << message;
        EXPECT_EQ(DataMessage(status), message);
    }

    auto deferred = std::make_shared<DeferredWork>();
    auto construct = std::make_shared<ConstructTransferFromPackageWork>(iface, session, deferred);
    WorkStatus status = construct->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError) << "no package to build from";
    iface->SetPackage(ReadPackage({{"a.bin", content}}));
    ASSERT_EQ(construct->Run().result, WorkResult::Success);
    status = construct->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_EQ(DataMessage(status),
              "ConstructTransferFromPackageWork::ExecuteTask failed; DeferredWork already assigned");
}

// The work log writes these descriptions: the class name, "important" for the works that say so, the transfer's
// parameters, then the file's or chunk's keys, in this order.
TEST_F(ChunkWorkTest, DescriptionsNameTheWorkThenTheTransferThenTheirData) {
    const std::string content = MakeTestContent(100, 5);
    auto mapData = MapChunk({"unused:1"}, "chunk.bin", content);
    iface->SetPackage(ReadPackage({{"chunk.bin", content}}));
    auto session = Services().sessions.Create();
    const FileManifest& file = *iface->GetPackage()->GetFiles()[0];
    auto fileData = mapData->fileData;

    const std::vector<std::string> params = {"transferId", "partnerId", "packageId", "versionId", "destPath"};
    auto keys = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const std::vector<std::string> fileKeys = {"filePath", "fileSize"};
    const std::vector<std::string> mapKeys = {"filePath",   "fileSize",         "lowerBound",
                                              "upperBound", "expectedChecksum", "fileProgressBytes"};
    const std::vector<std::pair<std::shared_ptr<Work>, std::vector<std::string>>> cases = {
        {std::make_shared<TransferPackageWork>(iface), keys({{"name", "important"}, params})},
        {std::make_shared<GetNodeListWork>(iface, session), keys({{"name", "important"}, params})},
        {std::make_shared<GetManifestsWork>(iface, session), keys({{"name"}, params})},
        {std::make_shared<TransferMultipleFilesWork>(iface, session), keys({{"name"}, params})},
        {std::make_shared<TransferSingleFileWork>(iface, session, file),
         keys({{"name", "important"}, params, fileKeys})},
        {std::make_shared<CloseFileWork>(iface, fileData), keys({{"name"}, params, fileKeys})},
        {std::make_shared<TransferSingleChunkWork>(iface, session, fileData, 0, 99, 1u),
         keys({{"name"}, params, mapKeys})},
        {std::make_shared<OptimizedRequestChunkWork>(iface, session, mapData, 1),
         keys({{"name"}, params, mapKeys})},
    };
    for (const auto& [work, expected] : cases) {
        ptree description;
        work->Describe(description);
        std::vector<std::string> written;
        for (const auto& [key, value] : description)
            written.push_back(key);
        EXPECT_EQ(written, expected) << description.get<std::string>("name");
        EXPECT_EQ(description.get<std::string>("important", "true"), "true");
    }
    ptree chunk;
    std::make_shared<VerifyChunkWork>(iface, mapData)->Describe(chunk);
    EXPECT_EQ(chunk.get<std::string>("name"), "VerifyChunkWork");
    std::ostringstream hex;
    hex << std::hex << Crc32(content);
    EXPECT_EQ(chunk.get<std::string>("expectedChecksum"), hex.str());
}

}  // namespace
}  // namespace qelt::test

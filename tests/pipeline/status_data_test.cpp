#include "pipeline/status_data.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "manifest/node_list_manifest.h"
#include "manifest/package_manifest.h"
#include "manifest/xml_manifest_reader.h"
#include "storage/file_exception.h"

namespace qelt {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The keys and values a descriptor writes, in order.
Entries Described(const WorkDescriptor& data) {
    ptree tree;
    data.Describe(tree);
    Entries entries;
    for (const auto& [key, child] : tree)
        entries.emplace_back(key, child.data());
    return entries;
}

template <typename Exception>
std::exception_ptr Captured(Exception exception) {
    return std::make_exception_ptr(exception);
}

TEST(TransferErrorDataTest, DescribesAndPrintsErrorAndMessage) {
    TransferErrorData data(TransferError::InternalError, "VerifyChunkWork::ExecuteTask has no shared map");
    EXPECT_EQ(data.ToTransferError(), TransferError::InternalError);
    EXPECT_EQ(Described(data), (Entries{{"transferError", "9"},
                                        {"errorMessage", "VerifyChunkWork::ExecuteTask has no shared map"}}));
    EXPECT_EQ(data.ToString(), "error|9|VerifyChunkWork::ExecuteTask has no shared map");
    // Reached through the base the transfer and the log hold.
    const WorkStatusData& base = data;
    EXPECT_EQ(base.ToString(), "error|9|VerifyChunkWork::ExecuteTask has no shared map");
}

TEST(TransferExceptionDataTest, CapturesTheCurrentException) {
    std::shared_ptr<TransferExceptionData> data;
    try {
        throw std::runtime_error("connection reset");
    } catch (...) {
        data = std::make_shared<TransferExceptionData>(TransferError::ConnectionError);
    }
    EXPECT_EQ(data->ToTransferError(), TransferError::ConnectionError);
    EXPECT_EQ(
        Described(*data),
        (Entries{{"transferError", "2"}, {"exception", "std::runtime_error"}, {"what", "connection reset"}}));
    EXPECT_EQ(data->ToString(), "error|2|std::runtime_error");
}

TEST(TransferExceptionDataTest, NonStandardExceptionsAreOfUnknownType) {
    TransferExceptionData data(TransferError::InternalError, std::make_exception_ptr(42));
    EXPECT_EQ(data.ToString(), "error|9|Unknown exception type");
    EXPECT_EQ(Described(data), (Entries{{"transferError", "9"}, {"exception", "Unknown exception type"}}));
}

TEST(TransferFileExceptionDataTest, ClassifiesEveryKindOfFailure) {
    struct Case {
        std::exception_ptr exception;
        TransferError error;
        bool retryable;
    };
    const std::vector<Case> cases = {
        {Captured(FileBadPathException()), TransferError::DiskAccessError, false},
        {Captured(FileInUseException()), TransferError::DiskAccessError, true},
        {Captured(FileInaccessibleException()), TransferError::DiskAccessError, true},
        {Captured(FileInsufficientSpaceException()), TransferError::DiskFullError, true},
        {Captured(FileOutOfBoundsException()), TransferError::InternalError, false},
        {Captured(FileInvalidMapException()), TransferError::DiskWriteError, false},
        {Captured(FileUnknownException()), TransferError::DiskWriteError, false},
        {Captured(std::bad_alloc()), TransferError::MemoryError, false},
        {Captured(std::runtime_error("x")), TransferError::InternalError, false},
        {Captured(7), TransferError::InternalError, false},
        {nullptr, TransferError::InternalError, false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        TransferFileExceptionData data(cases[i].exception);
        EXPECT_EQ(data.ToTransferError(), cases[i].error) << "case " << i;
        EXPECT_EQ(data.Retryable(), cases[i].retryable) << "case " << i;
    }
}

TEST(TransferFileExceptionDataTest, TheAllocationFailureOfAFileOperationIsAMemoryError) {
    try {
        ThrowFileError(FileErrorKind::OutOfMemory);
    } catch (...) {
        TransferFileExceptionData data;
        EXPECT_EQ(data.ToTransferError(), TransferError::MemoryError);
    }
}

TEST(TransferFileExceptionDataTest, AFailedFileWorkIsRetryableOnlyWhenTheDataSaysSo) {
    try {
        throw FileInsufficientSpaceException();
    } catch (...) {
        const WorkStatus status = FileExceptionStatus();
        EXPECT_EQ(status.result, WorkResult::RetryableError);
        auto data = std::dynamic_pointer_cast<TransferFileExceptionData>(status.data);
        ASSERT_TRUE(data);
        EXPECT_EQ(data->ToTransferError(), TransferError::DiskFullError);
        EXPECT_EQ(data->ToString(), "error|4|qelt::FileInsufficientSpaceException");
    }
    try {
        throw FileBadPathException();
    } catch (...) {
        const WorkStatus status = FileExceptionStatus();
        EXPECT_EQ(status.result, WorkResult::FatalError);
        auto data = std::dynamic_pointer_cast<TransferStatusData>(status.data);
        ASSERT_TRUE(data);
        EXPECT_EQ(data->ToTransferError(), TransferError::DiskAccessError);
        EXPECT_EQ(Described(*data).front(), (std::pair<std::string, std::string>("transferError", "5")));
    }
}

TEST(ChecksumStatusDataTest, DescribesTheChecksumInShortLowerCaseHex) {
    EXPECT_EQ(Described(ChecksumStatusData(26)), (Entries{{"actualChecksum", "1a"}}));
    EXPECT_EQ(Described(ChecksumStatusData(0)), (Entries{{"actualChecksum", "0"}}));
    EXPECT_EQ(Described(ChecksumStatusData(0xDEADBEEF)), (Entries{{"actualChecksum", "deadbeef"}}));
    EXPECT_EQ(ChecksumStatusData(26).ToString(), "error|6");
    EXPECT_EQ(ChecksumStatusData(26).ToTransferError(), TransferError::ChecksumError);
}

HttpRequestStatus StatusOf(HttpRequestResult state) {
    HttpRequestStatus status;
    status.State = state;
    status.BytesReceived = 65536;
    status.ResponseCode = 404;
    status.PrimaryIp = "127.0.0.1";
    status.Message = "The requested URL returned error: 404";
    return status;
}

TEST(HttpTransferStatusDataTest, MapsEveryRequestState) {
    using R = HttpRequestResult;
    using E = TransferError;
    const std::vector<std::pair<R, E>> table = {
        {R::Idle, E::InternalError},
        {R::Running, E::InternalError},
        {R::Succeeded, E::None},
        {R::Cancelled, E::None},
        {R::BadUrl, E::RequestError},
        {R::ResolveFailed, E::ConnectionError},
        {R::ConnectFailed, E::ConnectionError},
        {R::HttpClientError, E::ConnectionError},
        {R::HttpServerError, E::ConnectionError},
        {R::SendReceiveFailed, E::ConnectionError},
        {R::WriteFailed, E::DiskWriteError},
        {R::RangeFailed, E::ConnectionError},
        {R::TimedOut, E::ConnectionError},
        {R::OutOfMemory, E::MemoryError},
        {R::OtherError, E::RequestError},
    };
    ASSERT_EQ(table.size(), 15u);
    for (const auto& [state, error] : table) {
        EXPECT_EQ(HttpTransferStatusData("node", StatusOf(state), 1).ToTransferError(), error) << state;
    }
}

TEST(HttpTransferStatusDataTest, DescribesTheRequest) {
    HttpTransferStatusData data("cdn1.example", StatusOf(HttpRequestResult::HttpClientError), 1234);
    EXPECT_EQ(Described(data), (Entries{{"hostname", "cdn1.example"},
                                        {"ip", "127.0.0.1"},
                                        {"httpResult", "7"},
                                        {"httpResponseCode", "404"},
                                        {"bytesWritten", "65536"},
                                        {"errorDetails", "The requested URL returned error: 404"},
                                        {"requestTimeMs", "1234"}}));
    EXPECT_EQ(data.ToString(), "error|2|7|The requested URL returned error: 404");
}

TEST(HttpTransferStatusDataTest, RequestsWithoutAnErrorPrintNothing) {
    EXPECT_EQ(HttpTransferStatusData("n", StatusOf(HttpRequestResult::Cancelled), 5).ToString(), "");
    EXPECT_EQ(HttpTransferStatusData("n", StatusOf(HttpRequestResult::Succeeded), 5).ToString(), "");
    EXPECT_EQ(HttpTransferStatusData("n", StatusOf(HttpRequestResult::Running), 5).ToString(),
              "error|9|1|The requested URL returned error: 404");
    EXPECT_EQ(HttpTransferStatusData("n", StatusOf(HttpRequestResult::TimedOut), -1).ToString(),
              "error|2|12|The requested URL returned error: 404");
}

ptree ReadXml(const std::string& xml) {
    std::istringstream stream(xml);
    ptree tree;
    ReadXmlManifest(stream, tree);
    return tree;
}

TEST(PackageStatusDataTest, DescribesThePackageIds) {
    auto package = std::make_shared<StandardPackageManifest>();
    package->Deserialize(ReadXml(
        "<package><id>a1c77c47325e73f50459eb73</id><name>Game</name><partnerId>81f88b11d7e363933742d620</"
        "partnerId>"
        "<versionId>v42</versionId><files><file><path>game.exe</path><chunksize>1048576</chunksize><size>10</size>"
        "<checksums>0000001a</checksums></file></files></package>"));
    PackageStatusData data(package);
    EXPECT_EQ(Described(data), (Entries{{"packageId", "a1c77c47325e73f50459eb73"},
                                        {"partnerId", "81f88b11d7e363933742d620"},
                                        {"versionId", "v42"}}));
    EXPECT_EQ(data.ToString(), "");
    EXPECT_EQ(data.Package(), package);
}

TEST(PackageStatusDataTest, WithoutAPackageWritesTheSingleKeyPackage) {
    PackageStatusData data(nullptr);
    EXPECT_EQ(Described(data), (Entries{{"package", "null"}}));
    EXPECT_EQ(data.ToString(), "");
}

TEST(NodeListStatusDataTest, DescribesTheNodeCount) {
    auto nodes = std::make_shared<StandardNodeListManifest>();
    nodes->Deserialize(
        ReadXml("<ArrayOfNodeInfo><NodeInfo><NodeId>n1</NodeId><Host>a.example</Host></NodeInfo>"
                "<NodeInfo><NodeId>n2</NodeId><Host>b.example</Host></NodeInfo>"
                "<NodeInfo><NodeId>n3</NodeId><Host>c.example</Host></NodeInfo></ArrayOfNodeInfo>"));
    EXPECT_EQ(Described(NodeListStatusData(nodes)), (Entries{{"count", "3"}}));
    EXPECT_EQ(Described(NodeListStatusData(nullptr)), (Entries{{"nodes", "null"}}));
    EXPECT_EQ(NodeListStatusData(nodes).ToString(), "");
}

TEST(SharedDataTest, MapDataDescribesItsFileFirst) {
    auto file = std::make_shared<TransferSharedFileData>("bin/game.exe", 3000000000ull);
    EXPECT_EQ(Described(*file), (Entries{{"filePath", "bin/game.exe"}, {"fileSize", "3000000000"}}));
    TransferSharedMapData map(file, 2147483648ull, 2148532223ull, 0x0badf00d, nullptr);
    map.fileProgressBytes = 4096;
    EXPECT_EQ(Described(map), (Entries{{"filePath", "bin/game.exe"},
                                       {"fileSize", "3000000000"},
                                       {"lowerBound", "2147483648"},
                                       {"upperBound", "2148532223"},
                                       {"expectedChecksum", "badf00d"},
                                       {"fileProgressBytes", "4096"}}));
}

}  // namespace
}  // namespace qelt

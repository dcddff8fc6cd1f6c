#include "pipeline/status_data.h"

#include <boost/property_tree/ptree.hpp>
#include <cstdio>
#include <new>

#include "manifest/node_list_manifest.h"
#include "manifest/package_manifest.h"
#include "storage/file_exception.h"

namespace qelt {
namespace {

std::string Hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

std::string Decimal(HttpRequestResult state) {
    return std::to_string(static_cast<unsigned>(state));
}

std::string ErrorText(TransferError error, const std::string& detail) {
    return "error|" + ToString(error) + "|" + detail;
}

}  // namespace

std::string ToString(TransferError error) {
    return std::to_string(static_cast<unsigned>(error));
}

TransferErrorData::TransferErrorData(TransferError error, std::string message)
    : WorkErrorData(std::move(message)), error_(error) {}

void TransferErrorData::Describe(ptree& out) const {
    out.put("transferError", qelt::ToString(error_));
    WorkErrorData::Describe(out);
}

std::string TransferErrorData::ToString() const {
    return ErrorText(error_, Message());
}

TransferExceptionData::TransferExceptionData(TransferError error, std::exception_ptr exception)
    : WorkExceptionData(std::move(exception)), error_(error) {}

void TransferExceptionData::Describe(ptree& out) const {
    out.put("transferError", qelt::ToString(error_));
    WorkExceptionData::Describe(out);
}

std::string TransferExceptionData::ToString() const {
    return ErrorText(error_, WorkExceptionData::ToString());
}

TransferFileExceptionData::TransferFileExceptionData(std::exception_ptr exception)
    : TransferFileExceptionData(exception, Classify(exception)) {}

TransferFileExceptionData::TransferFileExceptionData(std::exception_ptr exception, Classification classification)
    : TransferExceptionData(classification.error, std::move(exception)), retryable_(classification.retryable) {}

TransferFileExceptionData::Classification TransferFileExceptionData::Classify(
    const std::exception_ptr& exception) {
    if (!exception) return {TransferError::InternalError, false};
    // The specific file errors derive from FileException, so they are tested before it.
    try {
        std::rethrow_exception(exception);
    } catch (const FileBadPathException&) {
        return {TransferError::DiskAccessError, false};
    } catch (const FileInUseException&) {
        return {TransferError::DiskAccessError, true};
    } catch (const FileInaccessibleException&) {
        return {TransferError::DiskAccessError, true};
    } catch (const FileInsufficientSpaceException&) {
        return {TransferError::DiskFullError, true};
    } catch (const FileOutOfBoundsException&) {
        return {TransferError::InternalError, false};
    } catch (const FileException&) {
        return {TransferError::DiskWriteError, false};
    } catch (const std::bad_alloc&) {
        return {TransferError::MemoryError, false};
    } catch (...) {
        return {TransferError::InternalError, false};
    }
}

WorkStatus FileExceptionStatus(std::exception_ptr exception) {
    auto data = std::make_shared<TransferFileExceptionData>(std::move(exception));
    const WorkResult result = data->Retryable() ? WorkResult::RetryableError : WorkResult::FatalError;
    return WorkStatus(result, std::move(data));
}

void ChecksumStatusData::Describe(ptree& out) const {
    out.put("actualChecksum", Hex(actualChecksum_));
}

std::string ChecksumStatusData::ToString() const {
    return "error|" + qelt::ToString(TransferError::ChecksumError);
}

HttpTransferStatusData::HttpTransferStatusData(std::string hostname, HttpRequestStatus status,
                                               std::int32_t requestTimeMs)
    : hostname_(std::move(hostname)), status_(std::move(status)), requestTimeMs_(requestTimeMs) {}

TransferError HttpTransferStatusData::ToTransferError() const {
    switch (status_.State) {
        case HttpRequestResult::Succeeded:
        case HttpRequestResult::Cancelled:
            return TransferError::None;
        case HttpRequestResult::BadUrl:
        case HttpRequestResult::OtherError:
            return TransferError::RequestError;
        case HttpRequestResult::ResolveFailed:
        case HttpRequestResult::ConnectFailed:
        case HttpRequestResult::HttpClientError:
        case HttpRequestResult::HttpServerError:
        case HttpRequestResult::SendReceiveFailed:
        case HttpRequestResult::RangeFailed:
        case HttpRequestResult::TimedOut:
            return TransferError::ConnectionError;
        case HttpRequestResult::WriteFailed:
            return TransferError::DiskWriteError;
        case HttpRequestResult::OutOfMemory:
            return TransferError::MemoryError;
        case HttpRequestResult::Idle:
        case HttpRequestResult::Running:
            break;
    }
    return TransferError::InternalError;
}

void HttpTransferStatusData::Describe(ptree& out) const {
    out.put("hostname", hostname_);
    out.put("ip", status_.PrimaryIp);
    out.put("httpResult", Decimal(status_.State));
    out.put("httpResponseCode", std::to_string(status_.ResponseCode));
    out.put("bytesWritten", std::to_string(status_.BytesReceived));
    out.put("errorDetails", status_.Message);
    out.put("requestTimeMs", std::to_string(requestTimeMs_));
}

std::string HttpTransferStatusData::ToString() const {
    const TransferError error = ToTransferError();
    if (error == TransferError::None) return {};
    return ErrorText(error, Decimal(status_.State) + "|" + status_.Message);
}

void PackageStatusData::Describe(ptree& out) const {
    if (!package_) {
        out.put("package", "null");
        return;
    }
    out.put("packageId", package_->GetId());
    out.put("partnerId", package_->GetPartnerId());
    out.put("versionId", package_->GetVersionId());
}

void NodeListStatusData::Describe(ptree& out) const {
    if (!nodeList_) {
        out.put("nodes", "null");
        return;
    }
    out.put("count", std::to_string(nodeList_->GetNodes().size()));
}

void TransferSharedFileData::Describe(ptree& out) const {
    out.put("filePath", filePath);
    out.put("fileSize", std::to_string(fileSize));
}

TransferSharedMapData::TransferSharedMapData(std::shared_ptr<TransferSharedFileData> fileData,
                                             std::uint64_t lowerBound, std::uint64_t upperBound,
                                             std::uint32_t expectedChecksum,
                                             std::shared_ptr<TransferProgressUpdater> progress)
    : fileData(std::move(fileData)),
      lowerBound(lowerBound),
      upperBound(upperBound),
      expectedChecksum(expectedChecksum),
      progress(std::move(progress)) {}

void TransferSharedMapData::Describe(ptree& out) const {
    if (fileData) fileData->Describe(out);
    out.put("lowerBound", std::to_string(lowerBound));
    out.put("upperBound", std::to_string(upperBound));
    out.put("expectedChecksum", Hex(expectedChecksum));
    out.put("fileProgressBytes", std::to_string(fileProgressBytes.load(std::memory_order_relaxed)));
}

}  // namespace qelt

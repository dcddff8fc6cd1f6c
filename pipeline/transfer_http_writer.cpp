#include "pipeline/transfer_http_writer.h"

#include <limits>
#include <new>

#include "pipeline/status_data.h"
#include "storage/bounded_file_data.h"
#include "storage/file_exception.h"
#include "storage/shared_file.h"
#include "transfer/transfer_progress_updater.h"

namespace qelt {
namespace {

HttpRequestStatus WriterAnswer(HttpRequestResult state, std::uint64_t bytes) {
    HttpRequestStatus answer;
    answer.State = state;
    answer.BytesReceived = bytes;
    return answer;
}

}  // namespace

HttpRequestStatus HttpBoundedFileDataWriter::Write(const char* data, std::size_t length) {
    if (length == 0) return WriterAnswer(HttpRequestResult::Succeeded, 0);
    if (!data_) return WriterAnswer(HttpRequestResult::WriteFailed, 0);
    try {
        // No view is 4 GiB long, so a block this large is past the range whatever the cursor.
        if (length > std::numeric_limits<std::uint32_t>::max()) throw FileOutOfBoundsException();
        const std::uint32_t written = data_->Write(data, static_cast<std::uint32_t>(length));
        return WriterAnswer(written == length ? HttpRequestResult::Succeeded : HttpRequestResult::WriteFailed,
                            written);
    } catch (const FileOutOfBoundsException&) {
        return WriterAnswer(HttpRequestResult::RangeFailed, 0);
    } catch (const std::bad_alloc&) {
        return WriterAnswer(HttpRequestResult::OutOfMemory, 0);
    } catch (...) {
        return WriterAnswer(HttpRequestResult::WriteFailed, 0);
    }
}

TransferHttpWriter::TransferHttpWriter(std::shared_ptr<TransferSharedMapData> mapData)
    : HttpBoundedFileDataWriter(mapData->view), mapData_(std::move(mapData)) {}

HttpRequestStatus TransferHttpWriter::Write(const char* data, std::size_t length) {
    HttpRequestStatus answer = HttpBoundedFileDataWriter::Write(data, length);
    if (answer.BytesReceived > 0) {
        mapData_->fileProgressBytes.fetch_add(answer.BytesReceived, std::memory_order_relaxed);
        mapData_->progress->AddProgress(answer.BytesReceived);
        mapData_->progress->AddDownloaded(answer.BytesReceived);
    }
    return answer;
}

}  // namespace qelt

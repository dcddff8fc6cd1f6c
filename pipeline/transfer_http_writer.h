#pragma once

#include <cstddef>
#include <memory>

#include "http/http_request.h"

namespace qelt {

class BoundedFileData;
class TransferSharedMapData;

// Writes a response body straight into a chunk's mapped view, block by block, on the thread performing the
// request. A block that would reach past the view is refused whole with RangeFailed (the server sent more than
// the range asked for); a failed copy is WriteFailed, a failed allocation OutOfMemory. Never throws.
class HttpBoundedFileDataWriter : public HttpWriteCallback {
public:
    explicit HttpBoundedFileDataWriter(std::shared_ptr<BoundedFileData> data) : data_(std::move(data)) {}

    HttpRequestStatus Write(const char* data, std::size_t length) override;

private:
    std::shared_ptr<BoundedFileData> data_;
};

// The chunk request's writer: every block written counts as progress of the chunk and as downloaded bytes of the
// transfer, so the progress bar moves while the chunk arrives.
class TransferHttpWriter : public HttpBoundedFileDataWriter {
public:
    // Writes into the map data's view, which must be set.
    explicit TransferHttpWriter(std::shared_ptr<TransferSharedMapData> mapData);

    HttpRequestStatus Write(const char* data, std::size_t length) override;

private:
    std::shared_ptr<TransferSharedMapData> mapData_;
};

}  // namespace qelt

#include "http/http_request.h"

#include <ostream>

namespace qelt {

HttpRequestParams::HttpRequestParams(std::string url, HttpWriteCallback* writer)
    : Url(std::move(url)), Writer(writer) {}

const char* HttpRequestResultName(HttpRequestResult state) {
    switch (state) {
        case HttpRequestResult::Idle:
            return "Idle";
        case HttpRequestResult::Running:
            return "Running";
        case HttpRequestResult::Succeeded:
            return "Succeeded";
        case HttpRequestResult::Cancelled:
            return "Cancelled";
        case HttpRequestResult::BadUrl:
            return "BadUrl";
        case HttpRequestResult::ResolveFailed:
            return "ResolveFailed";
        case HttpRequestResult::ConnectFailed:
            return "ConnectFailed";
        case HttpRequestResult::HttpClientError:
            return "HttpClientError";
        case HttpRequestResult::HttpServerError:
            return "HttpServerError";
        case HttpRequestResult::SendReceiveFailed:
            return "SendReceiveFailed";
        case HttpRequestResult::WriteFailed:
            return "WriteFailed";
        case HttpRequestResult::RangeFailed:
            return "RangeFailed";
        case HttpRequestResult::TimedOut:
            return "TimedOut";
        case HttpRequestResult::OutOfMemory:
            return "OutOfMemory";
        case HttpRequestResult::OtherError:
            return "OtherError";
    }
    return "Unknown";
}

std::ostream& operator<<(std::ostream& out, HttpRequestResult state) {
    return out << HttpRequestResultName(state) << " (" << static_cast<int>(state) << ")";
}

HttpRequestStatus HttpStringstreamWriter::Write(const char* data, std::size_t length) {
    HttpRequestStatus result;
    result.State = HttpRequestResult::Succeeded;
    if (length == 0) return result;
    stream_.write(data, static_cast<std::streamsize>(length));
    if (!stream_.good()) {
        result.State = HttpRequestResult::WriteFailed;
        return result;
    }
    result.BytesReceived = length;
    return result;
}

}  // namespace qelt

#include "manifest/http_manifest_source.h"

#include <Poco/URI.h>

#include <new>
#include <utility>

#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "manifest/manifest_exception.h"
#include "manifest/xml_manifest_reader.h"

namespace qelt {

std::string BuildManifestUrl(const std::string& authority, const std::string& path) {
    try {
        return Poco::URI("http", authority, path).toString();
    } catch (...) {
        throw ManifestLocatorException();
    }
}

namespace {

// Appends the body to the stream until the size limit, then refuses, which ends the request in WriteFailed.
class BoundedStringstreamWriter : public HttpStringstreamWriter {
public:
    BoundedStringstreamWriter(std::ostream& stream, std::size_t maxBytes)
        : HttpStringstreamWriter(stream), remaining_(maxBytes) {}

    HttpRequestStatus Write(const char* data, std::size_t length) override {
        if (length > remaining_) {
            HttpRequestStatus refused;
            refused.State = HttpRequestResult::WriteFailed;
            return refused;
        }
        remaining_ -= length;
        return HttpStringstreamWriter::Write(data, length);
    }

private:
    std::size_t remaining_;
};

}  // namespace

HttpManifestSource::HttpManifestSource(std::string url, HttpRequestFactory* requestFactory,
                                       std::shared_ptr<HttpSession> session, std::int32_t connectTimeout,
                                       std::int32_t timeout, std::size_t maxBytes)
    : url_(std::move(url)),
      requestFactory_(requestFactory),
      session_(std::move(session)),
      connectTimeout_(connectTimeout),
      timeout_(timeout),
      maxBytes_(maxBytes) {}

void HttpManifestSource::Read(const std::string&, std::stringstream& stream) {
    BoundedStringstreamWriter writer(stream, maxBytes_);
    HttpRequestParams params(url_, &writer);
    params.ConnectTimeout = connectTimeout_;
    params.Timeout = timeout_;
    const std::shared_ptr<HttpRequest> request = requestFactory_->CreateRequest(params, session_);
    const HttpRequestStatus status = request->Perform();
    switch (status.State) {
        case HttpRequestResult::Succeeded:
            if (stream.good()) return;
            throw ManifestStreamException(status.Message);
        case HttpRequestResult::BadUrl:
        case HttpRequestResult::HttpClientError:
            throw ManifestLocatorException(status.Message);
        case HttpRequestResult::OutOfMemory:
            throw std::bad_alloc();
        default:
            throw ManifestStreamException(status.Message);
    }
}

void XmlHttpManifestSource::Parse(std::stringstream& stream, ptree& tree) {
    // The body leaves the stream without a copy: a manifest may be tens of MiB.
    ReadXmlManifest(std::move(stream).str(), tree);
}

HttpManifestHost::HttpManifestHost(std::string host, HttpRequestFactory* requestFactory,
                                   std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(host)),
      requestFactory_(requestFactory),
      connectTimeout_(connectTimeout),
      timeout_(timeout) {}

std::string HttpManifestHost::Url(const std::string& path) const {
    return BuildManifestUrl(host_, path);
}

void HttpManifestHost::LoadXml(const std::string& url, const std::string& key,
                               const std::shared_ptr<HttpSession>& session, InputManifest& manifest) const {
    XmlHttpManifestSource source(url, requestFactory_, session, connectTimeout_, timeout_);
    source.Load(key, manifest);
}

}  // namespace qelt

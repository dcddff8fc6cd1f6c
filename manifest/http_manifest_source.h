#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "manifest/manifest_source.h"

namespace qelt {

class HttpRequestFactory;
class HttpSession;

// The largest document a manifest host may send. A package of 8 million chunks fits; a body that goes on beyond
// it fails as a stream error instead of filling memory until the request's time limit.
inline constexpr std::size_t kMaxManifestBytes = 64u << 20;

// "http://" + authority + path written out by Poco::URI, which percent-encodes what a path may not carry. Any
// failure is a ManifestLocatorException with an empty message.
std::string BuildManifestUrl(const std::string& authority, const std::string& path);

// Fetches one URL with a plain GET; the key of Read is ignored. Failures map to the manifest errors:
// BadUrl and HTTP statuses below 500 -> ManifestLocatorException, OutOfMemory -> std::bad_alloc, every other
// failure (and a body over the size limit) -> ManifestStreamException, each with the request's message.
// Exceptions of request creation pass through unchanged. Performs on the calling thread.
class HttpManifestSource : public ManifestSource {
public:
    // `requestFactory` is not owned and must outlive the source; `session` may be null. Timeouts in seconds.
    HttpManifestSource(std::string url, HttpRequestFactory* requestFactory, std::shared_ptr<HttpSession> session,
                       std::int32_t connectTimeout, std::int32_t timeout,
                       std::size_t maxBytes = kMaxManifestBytes);
    HttpManifestSource(const HttpManifestSource&) = delete;
    HttpManifestSource& operator=(const HttpManifestSource&) = delete;

    void Read(const std::string& key, std::stringstream& stream) override;

    const std::string& GetUrl() const { return url_; }

private:
    std::string url_;
    HttpRequestFactory* requestFactory_;
    std::shared_ptr<HttpSession> session_;
    std::int32_t connectTimeout_;
    std::int32_t timeout_;
    std::size_t maxBytes_;
};

// Parses the fetched bytes as an XML manifest (see ReadXmlManifest): every failure is a ManifestParseException.
class XmlHttpManifestSource : public HttpManifestSource {
public:
    using HttpManifestSource::HttpManifestSource;
    void Parse(std::stringstream& stream, ptree& tree) override;
};

// What the HTTP manifest factories share: the manifest host ("host" or "host:port", no scheme), the request
// factory (not owned; must outlive this) and the connect and whole-request timeouts in seconds. Immutable, so the
// factories that hold one need no lock.
class HttpManifestHost {
public:
    HttpManifestHost(std::string host, HttpRequestFactory* requestFactory, std::int32_t connectTimeout,
                     std::int32_t timeout);

    // BuildManifestUrl on this host.
    std::string Url(const std::string& path) const;
    // Loads the XML document at `url` into `manifest` through an XmlHttpManifestSource; its exceptions pass.
    void LoadXml(const std::string& url, const std::string& key, const std::shared_ptr<HttpSession>& session,
                 InputManifest& manifest) const;

private:
    const std::string host_;
    HttpRequestFactory* const requestFactory_;
    const std::int32_t connectTimeout_;
    const std::int32_t timeout_;
};

}  // namespace qelt

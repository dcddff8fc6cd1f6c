#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/http_manifest_source.h"

namespace qelt {

class HttpRequestFactory;
class HttpSession;
class NodeListManifest;

// Fetches the node list of a partner; the key is the partner identifier. Shared by every transfer: Create may be
// called from any thread at once.
class NodeListManifestFactory {
public:
    virtual ~NodeListManifestFactory() = default;
    // Create(key, null session).
    virtual std::shared_ptr<NodeListManifest> Create(const std::string& key);
    // A complete, valid node list. Throws ManifestLocatorException, ManifestStreamException,
    // ManifestParseException or std::bad_alloc.
    virtual std::shared_ptr<NodeListManifest> Create(const std::string& key,
                                                     const std::shared_ptr<HttpSession>& session) = 0;
    // The document's URL; ManifestLocatorException when it cannot be built.
    virtual std::string GetUrl(const std::string& key) const = 0;
};

// Fetches from one HttpManifestHost (see there for the arguments). Immutable, so it needs no lock.
class HttpNodeListManifestFactory : public NodeListManifestFactory {
public:
    HttpNodeListManifestFactory(std::string manifestHost, HttpRequestFactory* requestFactory,
                                std::int32_t connectTimeout, std::int32_t timeout);
    HttpNodeListManifestFactory(const HttpNodeListManifestFactory&) = delete;
    HttpNodeListManifestFactory& operator=(const HttpNodeListManifestFactory&) = delete;

    using NodeListManifestFactory::Create;

protected:
    const HttpManifestHost host_;
};

// Node lists as XML at "http://" host "/nodes/" partnerId ".xml". There is no match check for node lists.
class XmlHttpNodeListManifestFactory : public HttpNodeListManifestFactory {
public:
    using HttpNodeListManifestFactory::Create;
    using HttpNodeListManifestFactory::HttpNodeListManifestFactory;

    std::shared_ptr<NodeListManifest> Create(const std::string& key,
                                             const std::shared_ptr<HttpSession>& session) override;
    std::string GetUrl(const std::string& key) const override;
};

}  // namespace qelt

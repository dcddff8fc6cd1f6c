#include "manifest/node_list_manifest_factory.h"

#include "manifest/http_manifest_source.h"

namespace qelt {

std::shared_ptr<NodeListManifest> NodeListManifestFactory::Create(const std::string& key) {
    return Create(key, nullptr);
}

HttpNodeListManifestFactory::HttpNodeListManifestFactory(std::string manifestHost,
                                                         HttpRequestFactory* requestFactory,
                                                         std::int32_t connectTimeout, std::int32_t timeout)
    : manifestHost_(std::move(manifestHost)),
      requestFactory_(requestFactory),
      connectTimeout_(connectTimeout),
      timeout_(timeout) {}

std::string XmlHttpNodeListManifestFactory::GetUrl(const std::string& key) const {
    return BuildManifestUrl(manifestHost_, "/nodes/" + key + ".xml");
}

std::shared_ptr<NodeListManifest> XmlHttpNodeListManifestFactory::Create(
    const std::string& key, const std::shared_ptr<HttpSession>& session) {
    XmlHttpManifestSource source(GetUrl(key), requestFactory_, session, connectTimeout_, timeout_);
    auto manifest = std::make_shared<StandardNodeListManifest>();
    source.Load(key, *manifest);
    return manifest;
}

}  // namespace qelt

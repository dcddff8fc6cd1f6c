#include "manifest/node_list_manifest_factory.h"

#include <utility>

#include "manifest/node_list_manifest.h"

namespace qelt {

std::shared_ptr<NodeListManifest> NodeListManifestFactory::Create(const std::string& key) {
    return Create(key, nullptr);
}

HttpNodeListManifestFactory::HttpNodeListManifestFactory(std::string manifestHost,
                                                         HttpRequestFactory* requestFactory,
                                                         std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(manifestHost), requestFactory, connectTimeout, timeout) {}

std::string XmlHttpNodeListManifestFactory::GetUrl(const std::string& key) const {
    return host_.Url("/nodes/" + key + ".xml");
}

std::shared_ptr<NodeListManifest> XmlHttpNodeListManifestFactory::Create(
    const std::string& key, const std::shared_ptr<HttpSession>& session) {
    auto manifest = std::make_shared<StandardNodeListManifest>();
    host_.LoadXml(GetUrl(key), key, session, *manifest);
    return manifest;
}

}  // namespace qelt

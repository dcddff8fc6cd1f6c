#include "manifest/package_manifest_factory.h"

#include <utility>

#include "manifest/manifest_exception.h"
#include "manifest/package_key.h"
#include "manifest/package_manifest.h"

namespace qelt {

std::shared_ptr<PackageManifest> PackageManifestFactory::Create(const std::string& key) {
    return Create(key, nullptr);
}

HttpPackageManifestFactory::HttpPackageManifestFactory(std::string manifestHost,
                                                       HttpRequestFactory* requestFactory,
                                                       std::int32_t connectTimeout, std::int32_t timeout)
    : host_(std::move(manifestHost), requestFactory, connectTimeout, timeout) {}

bool HttpPackageManifestFactory::Matches(const PackageManifest& manifest, const std::string& key) const noexcept {
    const auto [packageId, versionId] = SplitKeyView(key);
    if (manifest.GetId() != packageId) return false;
    return versionId.empty() || manifest.GetVersionId() == versionId;
}

std::string XmlHttpPackageManifestFactory::GetUrl(const std::string& key) const {
    // The identifiers go in as they are: a version key's "/" becomes the path separator it looks like.
    const bool hasVersion = key.find('/') != std::string::npos;
    return host_.Url("/manifests/" + key + (hasVersion ? "" : "/current") + ".xml");
}

std::shared_ptr<PackageManifest> XmlHttpPackageManifestFactory::Create(
    const std::string& key, const std::shared_ptr<HttpSession>& session) {
    auto manifest = std::make_shared<StandardPackageManifest>();
    host_.LoadXml(GetUrl(key), key, session, *manifest);
    if (!Matches(*manifest, key)) throw ManifestLocatorException();
    return manifest;
}

}  // namespace qelt

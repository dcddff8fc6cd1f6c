#include "manifest/package_manifest_factory.h"

#include "manifest/http_manifest_source.h"
#include "manifest/manifest_exception.h"
#include "manifest/package_key.h"

namespace qelt {

std::shared_ptr<PackageManifest> PackageManifestFactory::Create(const std::string& key) {
    return Create(key, nullptr);
}

HttpPackageManifestFactory::HttpPackageManifestFactory(std::string manifestHost,
                                                       HttpRequestFactory* requestFactory,
                                                       std::int32_t connectTimeout, std::int32_t timeout)
    : manifestHost_(std::move(manifestHost)),
      requestFactory_(requestFactory),
      connectTimeout_(connectTimeout),
      timeout_(timeout) {}

bool HttpPackageManifestFactory::Matches(const PackageManifest& manifest, const std::string& key) const noexcept {
    const auto [packageId, versionId] = SplitKeyView(key);
    if (manifest.GetId() != packageId) return false;
    return versionId.empty() || manifest.GetVersionId() == versionId;
}

std::string XmlHttpPackageManifestFactory::GetUrl(const std::string& key) const {
    // The identifiers go in as they are: a version key's "/" becomes the path separator it looks like.
    const bool hasVersion = key.find('/') != std::string::npos;
    return BuildManifestUrl(manifestHost_, "/manifests/" + key + (hasVersion ? "" : "/current") + ".xml");
}

std::shared_ptr<PackageManifest> XmlHttpPackageManifestFactory::Create(
    const std::string& key, const std::shared_ptr<HttpSession>& session) {
    XmlHttpManifestSource source(GetUrl(key), requestFactory_, session, connectTimeout_, timeout_);
    auto manifest = std::make_shared<StandardPackageManifest>();
    source.Load(key, *manifest);
    if (!Matches(*manifest, key)) throw ManifestLocatorException();
    return manifest;
}

}  // namespace qelt

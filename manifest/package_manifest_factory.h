#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/http_manifest_source.h"

namespace qelt {

class HttpRequestFactory;
class HttpSession;
class PackageManifest;

// Fetches package manifests by package key (see package_key.h). Created once by the composition root and shared
// by every transfer: Create may be called from any thread at once.
class PackageManifestFactory {
public:
    virtual ~PackageManifestFactory() = default;
    // Create(key, null session).
    virtual std::shared_ptr<PackageManifest> Create(const std::string& key);
    // Whether the package answers the key: the same id and, when the key names a version, the same version.
    virtual bool Matches(const PackageManifest& manifest, const std::string& key) const noexcept = 0;
    // A complete, valid package for the key. Throws ManifestLocatorException, ManifestStreamException,
    // ManifestParseException or std::bad_alloc (see HttpManifestSource for which failure is which).
    virtual std::shared_ptr<PackageManifest> Create(const std::string& key,
                                                    const std::shared_ptr<HttpSession>& session) = 0;
    // The document's URL; ManifestLocatorException when it cannot be built.
    virtual std::string GetUrl(const std::string& key) const = 0;
};

// Fetches from one HttpManifestHost (see there for the arguments). Immutable, so it needs no lock.
class HttpPackageManifestFactory : public PackageManifestFactory {
public:
    HttpPackageManifestFactory(std::string manifestHost, HttpRequestFactory* requestFactory,
                               std::int32_t connectTimeout, std::int32_t timeout);
    HttpPackageManifestFactory(const HttpPackageManifestFactory&) = delete;
    HttpPackageManifestFactory& operator=(const HttpPackageManifestFactory&) = delete;

    using PackageManifestFactory::Create;
    bool Matches(const PackageManifest& manifest, const std::string& key) const noexcept override;

protected:
    const HttpManifestHost host_;
};

// Package manifests as XML at "http://" host "/manifests/" packageId "/current.xml" (current version) or
// "/manifests/" packageId "/" versionId ".xml".
class XmlHttpPackageManifestFactory : public HttpPackageManifestFactory {
public:
    using HttpPackageManifestFactory::Create;
    using HttpPackageManifestFactory::HttpPackageManifestFactory;

    std::shared_ptr<PackageManifest> Create(const std::string& key,
                                            const std::shared_ptr<HttpSession>& session) override;
    std::string GetUrl(const std::string& key) const override;
};

}  // namespace qelt

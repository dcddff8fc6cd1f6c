#pragma once

#include <string>
#include <utility>

#include "transfer/manifest_store_impl.h"

namespace qelt {

// Keeps manifests under string keys across runs. No operation throws: every failure is a false result, after
// which a manifest passed to Load must be discarded.
template <class Manifest>
class ManifestStore {
public:
    ManifestStore() = default;
    ManifestStore(const ManifestStore&) = delete;
    ManifestStore& operator=(const ManifestStore&) = delete;
    virtual ~ManifestStore() = default;

    virtual bool Load(const std::string& key, Manifest& manifest) = 0;
    // Replaces a manifest saved earlier under the key whole, or not at all.
    virtual bool Save(const std::string& key, const Manifest& manifest) = 0;
    virtual bool Remove(const std::string& key) = 0;
};

// A store of files in a folder under the user's temporary directory.
template <class Manifest>
class TempFileManifestStore : public ManifestStore<Manifest> {};

// One JSON file per key, named key + ".json". Safe to use from several threads at once for different keys.
template <class Manifest>
class JsonTempFileManifestStore final : public TempFileManifestStore<Manifest> {
public:
    // `folder` is resolved against the temporary directory (an absolute folder is kept) and created on the first
    // save. `files` is not owned and must outlive the store.
    JsonTempFileManifestStore(std::string folder, SharedFileFactory* files) : impl_(std::move(folder), files) {}

    bool Load(const std::string& key, Manifest& manifest) override {
        try {
            impl_.Load(key, manifest);
            return true;
        } catch (...) {
            return false;
        }
    }

    bool Save(const std::string& key, const Manifest& manifest) override {
        try {
            impl_.Save(key, manifest);
            return true;
        } catch (...) {
            return false;
        }
    }

    bool Remove(const std::string& key) override { return impl_.Remove(key); }

    const std::string& Folder() const { return impl_.Folder(); }

private:
    JsonTempFileManifestStoreImpl impl_;
};

}  // namespace qelt

#pragma once

#include <cstddef>
#include <sstream>
#include <string>

#include "manifest/manifest_source.h"

namespace qelt {

class SharedFileFactory;

// Writes manifests out: Format turns a tree into text, Write stores the text under a key. Both throw on failure.
class ManifestSink {
public:
    virtual ~ManifestSink() = default;

    virtual void Format(const ptree& tree, std::stringstream& stream) = 0;
    virtual void Write(const std::string& key, std::stringstream& stream) = 0;

    // Serialize, Format, then Write. Exceptions of every step pass through.
    void Save(const std::string& key, const OutputManifest& manifest);
};

// Reads and writes manifests by key, each in a location named by FileName.
class ManifestStoreImpl : public ManifestSource, public ManifestSink {
public:
    ManifestStoreImpl() = default;
    ManifestStoreImpl(const ManifestStoreImpl&) = delete;
    ManifestStoreImpl& operator=(const ManifestStoreImpl&) = delete;

    virtual std::string FileName(const std::string& key) = 0;
};

// The largest stored manifest read back. Stored records are a few short strings; a file beyond this is not one,
// and reading it would only cost memory.
inline constexpr std::size_t kMaxStoredManifestBytes = 64u << 10;

// True for a key that names a file inside the store's folder: not empty, no separator or NUL, not "." or "..".
bool IsPlainStoreKey(const std::string& key);

// Files in one folder. Errors: a key that is not plain, or a file that cannot be found, is a
// ManifestLocatorException; any other failure to read or write, or a file larger than the read limit, is a
// ManifestStreamException.
//
// Write replaces a file whole: the text goes to FileName(key) + ".tmp" beside it, is flushed to the medium and
// then put in the place of the old file in one step, so a crash or a full disk leaves the old file or the new
// one, never a mix. A failed write removes its temporary file.
class TempFileManifestStoreImpl : public ManifestStoreImpl {
public:
    // `folder` is resolved against the user's temporary directory; `files` must outlive the store.
    TempFileManifestStoreImpl(std::string folder, SharedFileFactory* files,
                              std::size_t maxBytes = kMaxStoredManifestBytes);

    void Read(const std::string& key, std::stringstream& stream) override;
    void Write(const std::string& key, std::stringstream& stream) override;
    // True when the file was deleted; never throws.
    bool Remove(const std::string& key);

    // The absolute folder of the files.
    const std::string& Folder() const { return folder_; }

private:
    const std::string folder_;
    SharedFileFactory* const files_;
    const std::size_t maxBytes_;
};

// Manifests as JSON files named key + ".json" (see WriteJsonRecord and ReadJsonRecord).
class JsonTempFileManifestStoreImpl : public TempFileManifestStoreImpl {
public:
    using TempFileManifestStoreImpl::TempFileManifestStoreImpl;

    void Parse(std::stringstream& stream, ptree& tree) override;
    void Format(const ptree& tree, std::stringstream& stream) override;
    std::string FileName(const std::string& key) override;
};

}  // namespace qelt

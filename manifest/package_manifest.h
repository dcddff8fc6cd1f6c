#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "manifest/manifest.h"

namespace qelt {

class FileManifest;

using FileManifestList = std::vector<std::shared_ptr<const FileManifest>>;

// A named, versioned set of files, one of which may be the program to start when the package is complete.
// Immutable once read; read from any thread without locking.
class PackageManifest : public InputManifest {
public:
    virtual const std::string& GetId() const = 0;
    virtual const std::string& GetName() const = 0;
    virtual const std::string& GetPartnerId() const = 0;
    virtual const std::string& GetVersionId() const = 0;
    // Every file, in document order.
    virtual const FileManifestList& GetFiles() const = 0;
    // The files whose path equals the run path, in document order.
    virtual const FileManifestList& GetRunFiles() const = 0;
    // Every other file, in document order.
    virtual const FileManifestList& GetOtherFiles() const = 0;
    // Path of the program to start, relative to the destination folder; may be empty.
    virtual const std::string& GetRun() const = 0;
    // The last file whose path equals the run path, or null.
    virtual std::shared_ptr<const FileManifest> GetRunFile() const = 0;

    // The byte total of the package: the sum of the sizes of all files.
    std::uint64_t GetTotalSize() const;
};

// A package read from a `package` element. Empty until Deserialize succeeds; after a failed Deserialize the
// object must be discarded.
class StandardPackageManifest : public PackageManifest {
public:
    StandardPackageManifest() = default;
    StandardPackageManifest(const StandardPackageManifest&) = delete;
    StandardPackageManifest& operator=(const StandardPackageManifest&) = delete;

    // Reads the child `package` of `node`; every fault is a ManifestParseException.
    void Deserialize(const ptree& node) override;

    const std::string& GetId() const override { return id_; }
    const std::string& GetName() const override { return name_; }
    const std::string& GetPartnerId() const override { return partnerId_; }
    const std::string& GetVersionId() const override { return versionId_; }
    const FileManifestList& GetFiles() const override { return files_; }
    const FileManifestList& GetRunFiles() const override { return runFiles_; }
    const FileManifestList& GetOtherFiles() const override { return otherFiles_; }
    const std::string& GetRun() const override { return run_; }
    std::shared_ptr<const FileManifest> GetRunFile() const override { return runFile_; }

private:
    void Read(const ptree& node);

    std::string id_;
    std::string name_;
    std::string partnerId_;
    std::string versionId_;
    std::string run_;
    std::shared_ptr<const FileManifest> runFile_;
    FileManifestList files_;
    FileManifestList runFiles_;
    FileManifestList otherFiles_;
};

}  // namespace qelt

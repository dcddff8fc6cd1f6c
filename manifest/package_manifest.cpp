#include "manifest/package_manifest.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"

namespace qelt {

std::uint64_t PackageManifest::GetTotalSize() const {
    std::uint64_t total = 0;
    for (const auto& file : GetFiles())
        total += file->GetSize();
    return total;
}

void StandardPackageManifest::Deserialize(const ptree& node) {
    try {
        Read(node);
    } catch (...) {
        throw ManifestParseException();
    }
    if (id_.empty() || name_.empty() || partnerId_.empty() || versionId_.empty()) throw ManifestParseException();
    runFile_.reset();
    runFiles_.clear();
    otherFiles_.clear();
    for (const auto& file : files_) {
        if (file->GetPath() == run_) {
            runFile_ = file;
            runFiles_.push_back(file);
        } else {
            otherFiles_.push_back(file);
        }
    }
    if (!run_.empty() && !runFile_) throw ManifestParseException();
}

void StandardPackageManifest::Read(const ptree& node) {
    const ptree& package = node.get_child("package");
    id_ = package.get<std::string>("id");
    name_ = package.get<std::string>("name");
    partnerId_ = package.get<std::string>("partnerId");
    versionId_ = package.get<std::string>("versionId");
    run_ = package.get<std::string>("run", std::string());
    files_.clear();
    for (const auto& [key, child] : package.get_child("files")) {
        // Anything else inside files (a comment, an attribute block, another element) means the document is
        // not the shape we can trust to list every file.
        if (key != "file") throw ManifestParseException();
        files_.push_back(std::make_shared<const StandardFileManifest>(child));
    }
}

}  // namespace qelt

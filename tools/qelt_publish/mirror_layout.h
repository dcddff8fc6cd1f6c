#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qelt::publish {

// Where everything lives under a mirror root that one static HTTP server serves as manifest host and node:
//   manifests/<package>/<version>.xml, manifests/<package>/current.xml, manifests/<package>/<version>.meta4
//   nodes/<partner>.xml
//   packages/<partner>/<package>/<version>/<file path>   (the default node path is "/packages/")
class MirrorLayout {
public:
    explicit MirrorLayout(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path ManifestsFolder() const { return root_ / "manifests"; }
    std::filesystem::path VersionManifest(const std::string& package, const std::string& version) const;
    std::filesystem::path CurrentManifest(const std::string& package) const;
    std::filesystem::path Metalink(const std::string& package, const std::string& version) const;
    std::filesystem::path NodeList(const std::string& partner) const;
    std::filesystem::path VersionFolder(const std::string& partner, const std::string& package,
                                        const std::string& version) const;

private:
    std::filesystem::path root_;
};

// A name beside `target` that no other run uses: "." + the target's name + ".<tag>-" + random hex digits.
std::filesystem::path TemporarySibling(const std::filesystem::path& target, const std::string& tag);

// Creates folders and remembers the ones it made, so that a failed run can take them away again.
class FolderMaker {
public:
    FolderMaker() = default;
    FolderMaker(const FolderMaker&) = delete;
    FolderMaker& operator=(const FolderMaker&) = delete;

    // Like mkdir -p; throws PublishError naming the folder.
    void Make(const std::filesystem::path& folder);
    // Removes the folders made, newest first, as far as they are still empty. Never throws.
    void RemoveEmpty() noexcept;

private:
    std::vector<std::filesystem::path> made_;
};

// A document written under a temporary name beside its final place, flushed, and renamed over the final place by
// Commit, so that a server never serves half of it. Until committed, the destructor removes the temporary file.
class StagedDocument {
public:
    StagedDocument(std::filesystem::path target, const std::string& text);
    ~StagedDocument();
    StagedDocument(const StagedDocument&) = delete;
    StagedDocument& operator=(const StagedDocument&) = delete;

    void Commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};

// Reads a whole small file; false when it does not exist. Throws PublishError when it exists but cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& text);

}  // namespace qelt::publish

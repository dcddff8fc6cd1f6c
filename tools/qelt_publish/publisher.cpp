#include "tools/qelt_publish/publisher.h"

#include <memory>
#include <optional>
#include <system_error>

#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "tools/qelt_publish/chunk_hasher.h"
#include "tools/qelt_publish/file_io.h"
#include "tools/qelt_publish/metalink_document.h"
#include "tools/qelt_publish/mirror_layout.h"
#include "tools/qelt_publish/package_document.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/source_scan.h"

namespace qelt::publish {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The version's files while they are being put together beside their final folder; removed unless committed.
class StagedFolder {
public:
    explicit StagedFolder(const fs::path& target)
        : target_(target), staging_(TemporarySibling(target, "staging")) {
        std::error_code error;
        fs::create_directory(staging_, error);
        if (error) {
            throw PublishError("Cannot create the folder " + Quoted(staging_.string()) + ": " + error.message() +
                               ".");
        }
    }

    ~StagedFolder() {
        std::error_code ignored;
        if (!committed_) fs::remove_all(staging_, ignored);
    }

    StagedFolder(const StagedFolder&) = delete;
    StagedFolder& operator=(const StagedFolder&) = delete;

    const fs::path& Path() const { return staging_; }

    // A folder left at the target by an earlier run that failed before its manifest was written is named by no
    // document, so it is moved aside and removed.
    void Commit() {
        std::error_code error;
        fs::path stale;
        if (fs::exists(target_, error)) {
            stale = TemporarySibling(target_, "stale");
            fs::rename(target_, stale, error);
        }
        if (!error) fs::rename(staging_, target_, error);
        if (error) {
            throw PublishError("Cannot put the folder " + Quoted(target_.string()) +
                               " in place: " + error.message() + ".");
        }
        committed_ = true;
        if (!stale.empty()) fs::remove_all(stale, error);
    }

private:
    fs::path target_;
    fs::path staging_;
    bool committed_ = false;
};

class Publication {
public:
    Publication(const PublishOptions& options, const PublishProgress& progress)
        : options_(options), progress_(progress), layout_(options.root) {}

    PublishResult Run() {
        try {
            return Publish();
        } catch (...) {
            staged_.reset();
            documents_.clear();
            folders_.RemoveEmpty();
            throw;
        }
    }

private:
    PublishResult Publish() {
        CheckRunPath();
        const SourceScan scan = ScanSource(options_.source);
        CheckFiles(scan);
        CheckRootOutsideSource();

        package_.id = options_.packageId;
        package_.name = options_.name.empty() ? DefaultName() : options_.name;
        package_.partnerId = options_.partnerId;
        package_.versionId = options_.versionId;
        package_.run = options_.run;
        const std::vector<NodeAddress> metalinkNodes =
            options_.metalink ? MetalinkNodes() : std::vector<NodeAddress>();

        const fs::path manifestPath = layout_.VersionManifest(package_.id, package_.versionId);
        const fs::path versionFolder = layout_.VersionFolder(package_.partnerId, package_.id, package_.versionId);
        std::string existing;
        const bool published = ReadWholeFile(manifestPath, existing);
        std::error_code error;
        // Only a folder named by a manifest can be reused; any other one is what a failed run left.
        const bool reuse = published && fs::is_directory(versionFolder, error);

        const std::vector<FileChecksums> checksums =
            reuse ? HashSource(scan.files) : StageFiles(scan.files, versionFolder);
        for (std::size_t i = 0; i < scan.files.size(); ++i) {
            const SourceFile& source = scan.files[i];
            package_.files.push_back(
                PublishedFile{source.path, options_.chunkSize, source.size, checksums[i].crc32});
        }
        // An existing manifest is compared by what the engine reads in it, not byte by byte, so a document
        // written in another layout still counts as the same version.
        const std::string document = published ? existing : WritePackageDocument(package_);
        if (published) {
            if (const auto difference = PackageDifference(existing, package_)) {
                throw PublishError("Version " + Quoted(package_.versionId) + " of package " + Quoted(package_.id) +
                                   " is already published under " + Quoted(options_.root.string()) +
                                   " with other content (" + *difference +
                                   "); a published version never changes, so publish under a new version id.");
            }
        } else {
            VerifyPackageDocument(document, package_);
        }

        if (options_.metalink) {
            std::vector<MetalinkFile> files;
            for (std::size_t i = 0; i < package_.files.size(); ++i)
                files.push_back(MetalinkFile{&package_.files[i], checksums[i].sha256});
            Stage(layout_.Metalink(package_.id, package_.versionId),
                  WriteMetalinkDocument(package_, files, metalinkNodes));
        }
        if (!options_.nodes.empty()) {
            const std::string nodeList = WriteNodeListDocument(options_.nodes);
            VerifyNodeListDocument(nodeList, options_.nodes);
            Stage(layout_.NodeList(package_.partnerId), nodeList);
        }
        if (!published) Stage(manifestPath, document);
        if (options_.current) Stage(layout_.CurrentManifest(package_.id), document);

        if (staged_) staged_->Commit();
        for (auto& staged : documents_)
            staged->Commit();

        PublishResult result;
        result.files = package_.files.size();
        for (const PublishedFile& file : package_.files) {
            result.bytes += file.size;
            result.chunks += file.checksums.size();
        }
        result.unchanged = reuse;
        result.manifest = manifestPath;
        result.emptyFolders = scan.emptyFolders;
        return result;
    }

    void CheckRunPath() const {
        if (options_.run.empty()) return;
        try {
            CheckDocumentText("run path", options_.run);
        } catch (const PublishError& error) {
            throw PublishError(error.what());
        }
        if (!IsSafeRelativePath(options_.run)) {
            throw PublishError("The run path " + Quoted(options_.run) +
                               " must be a relative path with \"/\" between folders, as listed under the source "
                               "folder.");
        }
    }

    void CheckFiles(const SourceScan& scan) const {
        if (scan.files.empty()) {
            throw PublishError("The source folder " + Quoted(options_.source.string()) +
                               " holds no files to publish.");
        }
        bool runFound = options_.run.empty();
        for (const SourceFile& file : scan.files) {
            runFound = runFound || file.path == options_.run;
            try {
                ChunkCount(options_.chunkSize, file.size);
            } catch (const ManifestOverflowException&) {
                throw PublishError("The file " + Quoted(file.path) +
                                   " would have more than 4294967295 chunks; choose a larger --chunk-size.");
            }
        }
        if (!runFound) {
            throw PublishError("The run path " + Quoted(options_.run) + " names no file in the source folder " +
                               Quoted(options_.source.string()) + ".");
        }
    }

    // A root inside the source would be published into itself.
    void CheckRootOutsideSource() const {
        std::error_code error;
        const fs::path source = fs::canonical(options_.source, error);
        const fs::path root = fs::weakly_canonical(options_.root, error);
        if (!error && IsWithinFolder(root, source)) {
            throw PublishError("The mirror root " + Quoted(options_.root.string()) +
                               " lies inside the source folder; put it somewhere else.");
        }
    }

    std::string DefaultName() const {
        std::error_code error;
        const std::string name = fs::canonical(options_.source, error).filename().string();
        try {
            if (!name.empty()) CheckDocumentText("name", name);
            if (!name.empty()) return name;
        } catch (const PublishError&) {
        }
        return options_.packageId;
    }

    std::vector<NodeAddress> MetalinkNodes() const {
        if (!options_.nodes.empty()) return options_.nodes;
        const fs::path path = layout_.NodeList(options_.partnerId);
        std::string text;
        if (!ReadWholeFile(path, text)) {
            throw PublishError(
                "The metalink needs the addresses of the nodes, and no node list is published for "
                "partner " +
                Quoted(options_.partnerId) + " yet; give them with --node.");
        }
        std::vector<NodeAddress> nodes;
        try {
            for (const auto& node : ReadNodeListDocument(text)->GetNodes())
                nodes.push_back(NodeAddress{node->GetHost(), node->GetPath()});
        } catch (const ManifestException&) {
            throw PublishError("The node list " + Quoted(path.string()) +
                               " cannot be read; give the nodes with --node to replace it.");
        }
        return nodes;
    }

    HashSettings Settings() const {
        HashSettings settings;
        settings.sha256 = options_.metalink;
        settings.progress = progress_;
        return settings;
    }

    std::vector<FileChecksums> HashSource(const std::vector<SourceFile>& files) const {
        std::vector<HashJob> jobs;
        for (const SourceFile& file : files)
            jobs.push_back(HashJob{file.location, file.size, options_.chunkSize, {}});
        return HashFiles(jobs, Settings());
    }

    std::vector<FileChecksums> StageFiles(const std::vector<SourceFile>& files, const fs::path& versionFolder) {
        folders_.Make(versionFolder.parent_path());
        staged_.emplace(versionFolder);
        std::vector<HashJob> jobs;
        for (const SourceFile& file : files) {
            const fs::path target = staged_->Path() / fs::path(file.path);
            std::error_code error;
            fs::create_directories(target.parent_path(), error);
            if (error) {
                throw PublishError("Cannot create the folder " + Quoted(target.parent_path().string()) + ": " +
                                   error.message() + ".");
            }
            HashJob job{file.location, file.size, options_.chunkSize, {}};
            if (options_.link) {
                fs::create_hard_link(file.location, target, error);
                if (error == std::errc::cross_device_link) {
                    throw PublishError("Cannot hard-link " + Quoted(file.path) + " into " +
                                       Quoted(options_.root.string()) +
                                       ": the source and the mirror root are on different file systems; publish "
                                       "without --link to copy the files.");
                }
                if (error) {
                    throw PublishError("Cannot hard-link " + Quoted(file.path) + " into " +
                                       Quoted(options_.root.string()) + ": " + error.message() + ".");
                }
            } else {
                OutputFile copy(target);
                copy.Reserve(file.size);
                copy.Close();
                job.copyTo = target;
            }
            jobs.push_back(job);
        }
        std::vector<FileChecksums> checksums = HashFiles(jobs, Settings());
        // The manifest will promise these bytes; they are on the disk before it is written.
        if (!options_.link) SyncFileSystemOf(staged_->Path());
        if (options_.link) {
            // A linked file is the source itself: one that grew while it was read no longer matches its chunks.
            for (const SourceFile& file : files) {
                std::error_code error;
                if (fs::file_size(staged_->Path() / fs::path(file.path), error) != file.size || error) {
                    throw PublishError("The file " + Quoted(file.path) + " changed while it was published.");
                }
            }
        }
        return checksums;
    }

    void Stage(const fs::path& target, const std::string& text) {
        std::string current;
        if (ReadWholeFile(target, current) && current == text) return;  // keeps its date, so caches stay valid
        folders_.Make(target.parent_path());
        documents_.push_back(std::make_unique<StagedDocument>(target, text));
    }

    const PublishOptions& options_;
    const PublishProgress& progress_;
    MirrorLayout layout_;
    PackageDescription package_;
    FolderMaker folders_;
    std::optional<StagedFolder> staged_;
    std::vector<std::unique_ptr<StagedDocument>> documents_;
};

}  // namespace

PublishResult Publish(const PublishOptions& options, const PublishProgress& progress) {
    return Publication(options, progress).Run();
}

}  // namespace qelt::publish

#include "tools/qelt_publish/mirror_check.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"
#include "manifest/package_manifest.h"
#include "tools/qelt_publish/chunk_hasher.h"
#include "tools/qelt_publish/mirror_layout.h"
#include "tools/qelt_publish/package_document.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/publish_options.h"

namespace qelt::publish {
namespace {

namespace fs = std::filesystem;

// The entries of a folder in name order, leaving out hidden ones (temporary files of a publish in progress).
std::vector<fs::directory_entry> Entries(const fs::path& folder) {
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        if (!it->path().filename().string().starts_with(".")) entries.push_back(*it);
    }
    if (error) throw PublishError("Cannot read the folder \"" + folder.string() + "\": " + error.message() + ".");
    std::sort(entries.begin(), entries.end());
    return entries;
}

class MirrorChecker {
public:
    explicit MirrorChecker(const fs::path& root) : layout_(root) {}

    CheckReport Run(const PublishProgress& progress) {
        std::error_code error;
        if (!fs::is_directory(layout_.ManifestsFolder(), error)) {
            throw PublishError("\"" + layout_.Root().string() +
                               "\" is not a mirror root: it has no manifests folder.");
        }
        for (const auto& package : Entries(layout_.ManifestsFolder())) {
            if (!package.is_directory()) continue;
            for (const auto& document : Entries(package.path())) {
                if (document.path().extension() == ".xml") ReadManifest(document.path());
            }
        }
        if (fs::is_directory(layout_.Root() / "nodes", error)) {
            for (const auto& document : Entries(layout_.Root() / "nodes")) {
                if (document.path().extension() == ".xml") ReadNodeList(document.path());
            }
        }
        HashSettings settings;
        settings.progress = progress;
        const std::vector<FileChecksums> computed = HashFiles(jobs_, settings);
        for (std::size_t i = 0; i < computed.size(); ++i)
            Compare(*expected_[i], files_[i], computed[i].crc32);
        return std::move(report_);
    }

private:
    std::string Relative(const fs::path& path) const {
        return path.lexically_relative(layout_.Root()).generic_string();
    }

    void ReadManifest(const fs::path& path) {
        std::string text;
        ReadWholeFile(path, text);
        if (!documents_.insert(text).second) return;
        std::shared_ptr<const PackageManifest> package;
        try {
            package = ReadPackageDocument(text);
        } catch (const ManifestException&) {
            report_.problems.push_back(Relative(path) + ": the engine cannot read this package manifest.");
            return;
        }
        const std::string folder = path.parent_path().filename().string();
        const std::string stem = path.stem().string();
        if (package->GetId() != folder || (stem != "current" && stem != package->GetVersionId())) {
            report_.problems.push_back(Relative(path) + ": names package \"" + package->GetId() + "\" version \"" +
                                       package->GetVersionId() + "\", which the engine does not accept here.");
        }
        try {
            CheckIdentifier("partner id", package->GetPartnerId());
            CheckIdentifier("package id", package->GetId());
            CheckIdentifier("version id", package->GetVersionId());
        } catch (const PublishError& error) {
            // Such ids would lead the file paths out of the mirror's packages folder.
            report_.problems.push_back(Relative(path) + ": " + error.what());
            return;
        }
        ++report_.manifests;
        packages_.push_back(package);
        const fs::path versionFolder =
            layout_.VersionFolder(package->GetPartnerId(), package->GetId(), package->GetVersionId());
        for (const auto& file : package->GetFiles()) {
            const fs::path location = versionFolder / fs::path(file->GetPath());
            ++report_.files;
            report_.chunks += file->GetChecksums().size();
            report_.bytes += file->GetSize();
            std::error_code error;
            const std::uintmax_t size = fs::file_size(location, error);
            if (error) {
                report_.problems.push_back(Relative(location) + ": missing (" + error.message() + ").");
            } else if (size != file->GetSize()) {
                report_.problems.push_back(Relative(location) + ": has " + std::to_string(size) +
                                           " bytes where the manifest says " + std::to_string(file->GetSize()) +
                                           ".");
            } else {
                jobs_.push_back(HashJob{location, file->GetSize(), file->GetChunkSize(), {}});
                expected_.push_back(file.get());
                files_.push_back(Relative(location));
            }
        }
    }

    void ReadNodeList(const fs::path& path) {
        std::string text;
        ReadWholeFile(path, text);
        try {
            ReadNodeListDocument(text);
        } catch (const ManifestException&) {
            report_.problems.push_back(Relative(path) + ": the engine cannot read this node list.");
        }
    }

    void Compare(const FileManifest& file, const std::string& name, const std::vector<std::uint32_t>& computed) {
        const auto& expected = file.GetChecksums();
        for (std::uint32_t chunk = 0; chunk < expected.size(); ++chunk) {
            if (computed[chunk] == expected[chunk]) continue;
            const ChunkRange range = GetChunkRange(file.GetChunkSize(), file.GetSize(), chunk);
            report_.damaged.push_back(DamagedChunk{name, chunk, range.lowerBound, range.upperBound});
        }
    }

    MirrorLayout layout_;
    CheckReport report_;
    std::set<std::string> documents_;
    std::vector<std::shared_ptr<const PackageManifest>> packages_;  // keep the file descriptions alive
    std::vector<HashJob> jobs_;
    std::vector<const FileManifest*> expected_;
    std::vector<std::string> files_;
};

}  // namespace

CheckReport CheckMirror(const std::filesystem::path& root, const PublishProgress& progress) {
    return MirrorChecker(root).Run(progress);
}

}  // namespace qelt::publish

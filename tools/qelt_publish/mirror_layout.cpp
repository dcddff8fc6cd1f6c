#include "tools/qelt_publish/mirror_layout.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "tools/qelt_publish/file_io.h"
#include "tools/qelt_publish/publish_error.h"

namespace qelt::publish {

namespace fs = std::filesystem;

fs::path MirrorLayout::VersionManifest(const std::string& package, const std::string& version) const {
    return ManifestsFolder() / package / (version + ".xml");
}

fs::path MirrorLayout::CurrentManifest(const std::string& package) const {
    return ManifestsFolder() / package / "current.xml";
}

fs::path MirrorLayout::Metalink(const std::string& package, const std::string& version) const {
    return ManifestsFolder() / package / (version + ".meta4");
}

fs::path MirrorLayout::NodeList(const std::string& partner) const {
    return root_ / "nodes" / (partner + ".xml");
}

fs::path MirrorLayout::VersionFolder(const std::string& partner, const std::string& package,
                                     const std::string& version) const {
    return root_ / "packages" / partner / package / version;
}

fs::path TemporarySibling(const fs::path& target, const std::string& tag) {
    static thread_local std::mt19937_64 random(std::random_device{}());
    std::ostringstream name;
    name << '.' << target.filename().string() << '.' << tag << '-' << std::hex << random();
    return target.parent_path() / name.str();
}

void FolderMaker::Make(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) return;
    if (folder.has_parent_path() && folder.parent_path() != folder) Make(folder.parent_path());
    if (fs::create_directory(folder, error)) {
        made_.push_back(folder);
        return;
    }
    std::error_code ignored;
    if (fs::is_directory(folder, ignored)) return;  // made by someone else meanwhile
    const bool fileInTheWay = fs::exists(folder, ignored);
    throw PublishError("Cannot create the folder \"" + folder.string() + "\": " +
                       (fileInTheWay ? std::string("a file of that name is in the way") : error.message()) + ".");
}

void FolderMaker::RemoveEmpty() noexcept {
    for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
        std::error_code ignored;
        fs::remove(*folder, ignored);  // only succeeds for an empty folder
    }
    made_.clear();
}

StagedDocument::StagedDocument(fs::path target, const std::string& text)
    : target_(std::move(target)), temporary_(TemporarySibling(target_, "tmp")) {
    WriteNewFile(temporary_, text);
}

StagedDocument::~StagedDocument() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void StagedDocument::Commit() {
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error) {
        throw PublishError("Cannot put \"" + target_.string() + "\" in place: " + error.message() + ".");
    }
    committed_ = true;
}

bool ReadWholeFile(const fs::path& path, std::string& text) {
    std::error_code error;
    if (!fs::exists(path, error)) return false;
    std::ifstream stream(path, std::ios::binary);
    if (stream) text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    if (!stream || stream.bad()) throw PublishError("Cannot read \"" + path.string() + "\".");
    return true;
}

}  // namespace qelt::publish

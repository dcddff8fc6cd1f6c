#include "tools/qelt_publish/source_scan.h"

#include <algorithm>
#include <system_error>

#include "manifest/file_manifest.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/publish_options.h"

namespace qelt::publish {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

class Scanner {
public:
    explicit Scanner(const fs::path& folder) : folder_(folder) {
        std::error_code error;
        root_ = fs::canonical(folder, error);
        if (error) {
            throw PublishError("Cannot read the source folder " + Quoted(folder.string()) + ": " +
                               error.message() + ".");
        }
        if (!fs::is_directory(root_, error)) {
            throw PublishError("The source " + Quoted(folder.string()) + " is not a folder.");
        }
    }

    SourceScan Run() {
        Visit(folder_, root_, "");
        std::sort(scan_.files.begin(), scan_.files.end(),
                  [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
        std::sort(scan_.emptyFolders.begin(), scan_.emptyFolders.end());
        return std::move(scan_);
    }

private:
    // `location` is the folder as reached from the source (perhaps through links), `real` its canonical path.
    void Visit(const fs::path& location, const fs::path& real, const std::string& relative) {
        open_.push_back(real);
        std::error_code error;
        fs::directory_iterator entries(location, error);
        if (error) Fail("Cannot read the folder " + Shown(relative) + ": " + error.message() + ".");
        bool empty = true;
        for (; entries != fs::directory_iterator(); entries.increment(error)) {
            empty = false;
            const fs::path entry = entries->path();
            const std::string path = (relative.empty() ? "" : relative + "/") + entry.filename().string();
            CheckPath(path);
            Take(entry, path);
        }
        if (error) Fail("Cannot read the folder " + Shown(relative) + ": " + error.message() + ".");
        if (empty && !relative.empty()) scan_.emptyFolders.push_back(relative);
        open_.pop_back();
    }

    void Take(const fs::path& entry, const std::string& path) {
        std::error_code error;
        const fs::file_status own = fs::symlink_status(entry, error);
        if (error) Fail("Cannot read " + Quoted(path) + ": " + error.message() + ".");
        fs::path real = entry;
        if (fs::is_symlink(own)) {
            real = fs::canonical(entry, error);
            if (error) Fail("The symbolic link " + Quoted(path) + " points to nothing.");
            if (!IsWithinFolder(real, root_)) {
                Fail("The symbolic link " + Quoted(path) + " points out of the source folder (to " +
                     Quoted(real.string()) + "); copy what it points to into the folder instead.");
            }
        }
        const fs::file_status status = fs::status(entry, error);
        if (error) Fail("Cannot read " + Quoted(path) + ": " + error.message() + ".");
        if (fs::is_directory(status)) {
            if (std::find(open_.begin(), open_.end(), real) != open_.end()) {
                Fail("The symbolic link " + Quoted(path) + " leads back into a folder that holds it.");
            }
            Visit(entry, real, path);
            return;
        }
        if (!fs::is_regular_file(status)) {
            Fail(Quoted(path) + " is neither a file nor a folder; a package can only hold files.");
        }
        const std::uintmax_t size = fs::file_size(entry, error);
        if (error) Fail("Cannot read the size of " + Quoted(path) + ": " + error.message() + ".");
        if (size == 0) {
            Fail("The file " + Quoted(path) +
                 " is empty, and a package manifest cannot describe a file of zero bytes; remove it or give it "
                 "content.");
        }
        // A link is read and hard-linked through its target: link(2) would link the symbolic link itself.
        scan_.files.push_back(SourceFile{path, real, size});
    }

    void CheckPath(const std::string& path) {
        try {
            CheckDocumentText("file path", path);
        } catch (const PublishError& error) {
            Fail(error.what());
        }
        if (!IsSafeRelativePath(path)) {
            Fail("The file path " + Quoted(path) +
                 " has a backslash, which the manifest reader refuses in a path; rename it.");
        }
    }

    std::string Shown(const std::string& relative) const {
        return Quoted(relative.empty() ? folder_.string() : relative);
    }

    [[noreturn]] static void Fail(const std::string& message) { throw PublishError(message); }

    fs::path folder_;
    fs::path root_;
    std::vector<fs::path> open_;
    SourceScan scan_;
};

}  // namespace

SourceScan ScanSource(const std::filesystem::path& folder) {
    return Scanner(folder).Run();
}

bool IsWithinFolder(const std::filesystem::path& path, const std::filesystem::path& folder) {
    const auto [end, _] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

}  // namespace qelt::publish

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qelt::publish {

// One file of the folder being published.
struct SourceFile {
    std::string path;                // relative to the folder, "/"-separated: the path written in the manifest
    std::filesystem::path location;  // where to read it (through a symbolic link when the file is one)
    std::uint64_t size = 0;
};

struct SourceScan {
    std::vector<SourceFile> files;          // sorted by path, byte-wise
    std::vector<std::string> emptyFolders;  // a package describes files only, so these are not published
};

// Lists every file under `folder`. Symbolic links are followed when they lead to a file or folder inside
// `folder`. Throws PublishError, naming the entry, for anything a package cannot describe: a link out of the
// folder or to nothing, a link that loops, a special file, an empty file, or a path the manifest reader refuses
// (a backslash, invalid UTF-8, a control character).
SourceScan ScanSource(const std::filesystem::path& folder);

// Whether `path` is `folder` or lies below it, comparing the paths as they are (make both canonical first).
bool IsWithinFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

}  // namespace qelt::publish

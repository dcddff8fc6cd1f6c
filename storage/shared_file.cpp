#include "storage/shared_file.h"

#include <array>
#include <filesystem>
#include <string_view>

#include "base/path_rule.h"
#include "storage/file_exception.h"

namespace qelt {
namespace fs = std::filesystem;

std::string FormSharedFilePath(const std::string& folder, const std::string& path) {
    // A NUL would silently cut the name at the platform call and name another file.
    if (path.empty() || folder.find('\0') != std::string::npos || path.find('\0') != std::string::npos) {
        throw FileBadPathException();
    }
    try {
        // A relative path is formed against the folder made absolute, so that the file stays where it was meant
        // even if the current folder changes.
        if (fs::path(path).is_absolute()) return ResolvePath(folder, path);
        return ResolvePath(fs::absolute(fs::path(folder)).string(), path);
    } catch (const fs::filesystem_error&) {
        throw FileBadPathException();
    }
}

bool HasExecutableExtension(const std::string& path) {
    static constexpr std::array<std::string_view, 6> kExtensions = {".exe", ".bat", ".com",
                                                                    ".cmd", ".msi", ".vbs"};
    const std::string_view text(path);
    const auto separator = text.find_last_of("/\\");
    const auto name = separator == std::string_view::npos ? text : text.substr(separator + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    const auto extension = name.substr(dot);
    for (const auto candidate : kExtensions) {
        if (extension == candidate) return true;
    }
    return false;
}

}  // namespace qelt

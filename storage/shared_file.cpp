#include "storage/shared_file.h"

#include <array>
#include <filesystem>
#include <string_view>

#include "storage/file_exception.h"

namespace qelt {
namespace fs = std::filesystem;

std::string FormSharedFilePath(const std::string& folder, const std::string& path) {
    // A NUL would silently cut the name at the platform call and name another file.
    if (path.empty() || folder.find('\0') != std::string::npos || path.find('\0') != std::string::npos) {
        throw FileBadPathException();
    }
    try {
        fs::path resolved(path);
        if (!resolved.is_absolute()) resolved = fs::absolute(fs::path(folder)) / resolved;
        return resolved.make_preferred().string();
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

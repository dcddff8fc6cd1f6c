#include "base/path_rule.h"

#include <filesystem>

namespace qelt {

std::string ResolvePath(const std::string& base, const std::string& path) {
    std::filesystem::path resolved(path);
    if (!resolved.is_absolute()) resolved = std::filesystem::path(base) / resolved;
    return resolved.make_preferred().string();
}

}  // namespace qelt

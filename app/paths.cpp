#include "app/paths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qelt {
namespace fs = std::filesystem;

std::string ResolvePath(const std::string& base, const std::string& path) {
    fs::path resolved(path);
    if (!resolved.is_absolute()) resolved = fs::path(base) / resolved;
    return resolved.make_preferred().string();
}

std::string UserTemporaryDirectory(const EnvironmentLookup& lookup) {
    auto nonEmpty = [&](const char* name) -> const char* {
        const char* value = lookup(name);
        return value && *value ? value : nullptr;
    };
    if (const char* tmp = nonEmpty("TMPDIR")) return tmp;
    if (const char* cache = nonEmpty("XDG_CACHE_HOME")) return cache;
    if (const char* home = nonEmpty("HOME")) return ResolvePath(home, ".cache");
    return "/tmp";
}

std::string UserTemporaryDirectory() {
    return UserTemporaryDirectory([](const char* name) { return std::getenv(name); });
}

bool CheckDataFolder(const std::string& folder) noexcept {
    try {
        std::error_code error;
        if (fs::exists(folder, error)) return true;
        error.clear();
        fs::create_directories(folder, error);
        return !error && fs::exists(folder, error);
    } catch (...) {
        return false;
    }
}

std::string RunningProgramPath(const std::string& fallback) {
    std::error_code error;
    auto path = fs::read_symlink("/proc/self/exe", error);
    if (!error && !path.empty()) return path.string();
    if (fallback.empty()) return fallback;
    auto absolute = fs::absolute(fallback, error);
    return error ? fallback : absolute.string();
}

}  // namespace qelt

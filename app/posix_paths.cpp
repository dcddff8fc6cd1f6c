// The POSIX side of app/paths.h: the per-user temporary folder and the running program's path.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/paths.h"
#include "base/path_rule.h"

namespace qelt {
namespace fs = std::filesystem;

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

std::string RunningProgramPath(const std::string& fallback) {
    std::error_code error;
    auto path = fs::read_symlink("/proc/self/exe", error);
    if (!error && !path.empty()) return path.string();
    if (fallback.empty()) return fallback;
    auto absolute = fs::absolute(fallback, error);
    return error ? fallback : absolute.string();
}

}  // namespace qelt

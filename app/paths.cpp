#include "app/paths.h"

#include <filesystem>
#include <system_error>

namespace qelt {
namespace fs = std::filesystem;

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

}  // namespace qelt

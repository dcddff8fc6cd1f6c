#include "manifest/package_key.h"

namespace qelt {

std::string MakeKey(const std::string& packageId, const std::string& versionId) {
    if (versionId.empty()) return packageId;
    return packageId + "/" + versionId;
}

std::pair<std::string_view, std::string_view> SplitKeyView(std::string_view key) noexcept {
    const std::size_t slash = key.find('/');
    if (slash == std::string_view::npos) return {key, std::string_view()};
    return {key.substr(0, slash), key.substr(slash + 1)};
}

std::pair<std::string, std::string> SplitKey(const std::string& key) {
    const auto [packageId, versionId] = SplitKeyView(key);
    return {std::string(packageId), std::string(versionId)};
}

}  // namespace qelt

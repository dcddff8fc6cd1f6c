#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace qelt {

// A package key names a package's current version ("packageId") or one version ("packageId/versionId").

// packageId alone when versionId is empty, else packageId + "/" + versionId.
std::string MakeKey(const std::string& packageId, const std::string& versionId);

// (packageId, versionId): the text before the first "/" and everything after it (which may hold more "/"), or
// the whole key and "" when it has no "/".
std::pair<std::string, std::string> SplitKey(const std::string& key);

// The same split without copying; the views point into `key`.
std::pair<std::string_view, std::string_view> SplitKeyView(std::string_view key) noexcept;

}  // namespace qelt

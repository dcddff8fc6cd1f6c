#pragma once

#include <functional>
#include <string>

namespace qelt {

// Looks up an environment variable; nullptr when unset.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// The current user's folder for temporary files: $TMPDIR when set and non-empty, else $XDG_CACHE_HOME, else
// $HOME/.cache, else /tmp. A per-user folder by default, never a shared world-writable one unless nothing else is
// known.
std::string UserTemporaryDirectory(const EnvironmentLookup& lookup);
std::string UserTemporaryDirectory();

// Passes when something already exists at `folder`, or when creating it and every missing parent succeeds.
// Never throws.
bool CheckDataFolder(const std::string& folder) noexcept;

// The absolute path of the running program, or `fallback` when the platform cannot tell.
std::string RunningProgramPath(const std::string& fallback);

}  // namespace qelt

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qelt {

// Identifiers of the program's string table.
enum class StringId : unsigned {
    kManifestHost = 102,
    kDownloaderPartnerId = 103,
    kPartnerId = 104,
    kGamePackageId = 105,
    kSkinPackageId = 106,
    kDownloaderPackageId = 107,
    kGameName = 108,
    kInstallFolder = 109,
    kLanguages = 129,
    kDefaultLanguage = 130,
};

// The longest value the loader returns; longer entries are cut, as a 255-character buffer with its terminator
// does.
inline constexpr std::size_t kMaxResourceStringLength = 254;

// Reads a string of the compiled-in table. An absent id yields "".
std::string LoadResourceString(unsigned id);
inline std::string LoadResourceString(StringId id) {
    return LoadResourceString(static_cast<unsigned>(id));
}

// The raw compiled-in value of an id, or an empty view when absent; exposed for the loader and its tests.
std::string_view CompiledResourceString(unsigned id);

// Cuts a stored value the way the loader does.
std::string CutResourceString(std::string_view value);

}  // namespace qelt

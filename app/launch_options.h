#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/version_placeholder.h"

namespace qelt {

struct LanguageEntry {
    std::string code;
    std::string displayName;

    bool operator==(const LanguageEntry&) const = default;
};

// Reads one string of the program's string table by id; an absent id yields "".
using StringLoader = std::function<std::string(unsigned id)>;

// The product values compiled into the string table and the three command-line options. Built once at start-up,
// read-only afterwards (no lock needed).
struct LaunchOptions {
    std::string programPath;
    std::string manifestHost;
    std::string downloaderPartnerId;
    std::string partnerId;
    std::string productFolder = "Orvane Technologies/Quorvel";
    std::string downloaderPackageId;
    std::string dataFolder;
    std::string gameName;       // keyed
    std::string installFolder;  // keyed
    std::string skinPackageId;  // keyed
    std::string skinVersion = UnspecifiedVersion;
    std::string gamePackageId;  // keyed
    std::string packageVersion = UnspecifiedVersion;
    std::string defaultLanguage;
    std::int32_t logLevel = -9;
    std::vector<LanguageEntry> languages;

    // Start-up step 1. `arguments` is the split command line (argument 0 first), or nullopt when it could not be
    // split; `temporaryDirectory` is the user's temporary folder the data folder is placed in.
    static LaunchOptions Load(const StringLoader& loadString,
                              const std::optional<std::vector<std::string>>& arguments,
                              const std::string& temporaryDirectory);

    // Applies the options of the command line, argument 0 included. A failed "log=" parse ends the pass and
    // its message is returned ("invalid stoul argument" or "stoul argument out of range"); values taken before
    // it stay.
    std::optional<std::string> ParseCommandLine(const std::vector<std::string>& arguments);

    std::string GetGameName(const std::string& languageCode) const;
    std::string GetInstallFolder(const std::string& languageCode) const;
    std::string GetSkinPackageId(const std::string& languageCode) const;
    std::string GetGamePackageId(const std::string& languageCode) const;
    // The skin package id for that language, resolved against dataFolder.
    std::string GetSkinFolder(const std::string& languageCode) const;
    // defaultLanguage when a language list is configured, otherwise empty.
    std::string GetDefaultLanguage() const;
};

// A keyed value is a plain text or "code=value;code=value". An empty key reads the whole text; otherwise the
// value of the first pair whose code equals the key exactly, or "" when none does.
std::string ReadKeyedString(std::string_view text, std::string_view key);

// Splits "code=name;code=name" into its pairs in written order, skipping tokens without "=".
std::vector<LanguageEntry> ParseLanguageList(std::string_view text);

// The "log=" value rules: the standard string-to-unsigned-long conversion with a 32-bit unsigned long, as on the
// platform the program was first built for, so the option means the same everywhere. Leading blanks and a sign
// are accepted, "-1" wraps to 4294967295. Throws std::invalid_argument("invalid stoul argument") without a
// digit and std::out_of_range("stoul argument out of range") above 32 bits.
std::uint32_t ParseUnsignedLong32(std::string_view text);

}  // namespace qelt

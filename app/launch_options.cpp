#include "app/launch_options.h"

#include <stdexcept>

#include "base/path_rule.h"
#include "resources/string_table.h"

namespace qelt {
namespace {

// Splits at ";" dropping empty tokens, then each token at its first "="; tokens without "=" are skipped.
template <typename Visitor>
void ForEachPair(std::string_view text, Visitor&& visit) {
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto token = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto equals = token.find('=');
        if (token.empty() || equals == std::string_view::npos) continue;
        if (!visit(token.substr(0, equals), token.substr(equals + 1))) return;
    }
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<std::string_view> AfterPrefix(std::string_view text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return std::nullopt;
    return text.substr(prefix.size());
}

}  // namespace

std::string ReadKeyedString(std::string_view text, std::string_view key) {
    if (key.empty()) return std::string(text);
    std::string result;
    ForEachPair(text, [&](std::string_view code, std::string_view value) {
        if (code != key) return true;
        result = value;
        return false;
    });
    return result;
}

std::vector<LanguageEntry> ParseLanguageList(std::string_view text) {
    std::vector<LanguageEntry> entries;
    ForEachPair(text, [&](std::string_view code, std::string_view name) {
        entries.push_back({std::string(code), std::string(name)});
        return true;
    });
    return entries;
}

std::uint32_t ParseUnsignedLong32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t firstDigit = i;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > UINT32_MAX) {
            overflow = true;
            value = UINT32_MAX;  // keep consuming digits without wrapping the accumulator
        }
    }
    if (i == firstDigit) throw std::invalid_argument("invalid stoul argument");
    if (overflow) throw std::out_of_range("stoul argument out of range");
    const auto magnitude = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
}

LaunchOptions LaunchOptions::Load(const StringLoader& loadString,
                                  const std::optional<std::vector<std::string>>& arguments,
                                  const std::string& temporaryDirectory) {
    LaunchOptions options;
    options.manifestHost = loadString(static_cast<unsigned>(StringId::kManifestHost));
    options.downloaderPartnerId = loadString(static_cast<unsigned>(StringId::kDownloaderPartnerId));
    options.partnerId = loadString(static_cast<unsigned>(StringId::kPartnerId));
    options.gameName = loadString(static_cast<unsigned>(StringId::kGameName));
    options.installFolder = loadString(static_cast<unsigned>(StringId::kInstallFolder));
    options.downloaderPackageId = loadString(static_cast<unsigned>(StringId::kDownloaderPackageId));
    options.dataFolder = ResolvePath(temporaryDirectory, options.productFolder);
    options.skinPackageId = loadString(static_cast<unsigned>(StringId::kSkinPackageId));
    options.gamePackageId = loadString(static_cast<unsigned>(StringId::kGamePackageId));
    options.defaultLanguage = loadString(static_cast<unsigned>(StringId::kDefaultLanguage));
    if (arguments) {
        if (!arguments->empty()) options.programPath = arguments->front();
        options.ParseCommandLine(*arguments);
    }
    options.languages = ParseLanguageList(loadString(static_cast<unsigned>(StringId::kLanguages)));
    return options;
}

std::optional<std::string> LaunchOptions::ParseCommandLine(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments) {
        if (auto rest = AfterPrefix(argument, "packageVersion=")) {
            packageVersion = *rest;
        } else if (auto rest = AfterPrefix(argument, "skinVersion=")) {
            skinVersion = *rest;
        } else if (auto rest = AfterPrefix(argument, "log=")) {
            try {
                logLevel = static_cast<std::int32_t>(ParseUnsignedLong32(*rest));
            } catch (const std::logic_error& e) {
                return std::string(e.what());
            }
        }
    }
    return std::nullopt;
}

std::string LaunchOptions::GetGameName(const std::string& languageCode) const {
    return ReadKeyedString(gameName, languageCode);
}
std::string LaunchOptions::GetInstallFolder(const std::string& languageCode) const {
    return ReadKeyedString(installFolder, languageCode);
}
std::string LaunchOptions::GetSkinPackageId(const std::string& languageCode) const {
    return ReadKeyedString(skinPackageId, languageCode);
}
std::string LaunchOptions::GetGamePackageId(const std::string& languageCode) const {
    return ReadKeyedString(gamePackageId, languageCode);
}
std::string LaunchOptions::GetSkinFolder(const std::string& languageCode) const {
    return ResolvePath(dataFolder, GetSkinPackageId(languageCode));
}
std::string LaunchOptions::GetDefaultLanguage() const {
    return languages.empty() ? std::string() : defaultLanguage;
}

}  // namespace qelt

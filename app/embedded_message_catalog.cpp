#include "app/embedded_message_catalog.h"

#include <utility>

#include "resources/message_catalogs.h"

namespace qelt {
namespace {

struct LanguageFolder {
    const char* folder;
    std::uint16_t resourceId;
};

constexpr LanguageFolder kLanguageFolders[] = {
    {"cs", 111},    {"de", 112},    {"el", 113},    {"es", 115},    {"es_ES", 115}, {"es_AR", 114}, {"es_BO", 114},
    {"es_CL", 114}, {"es_CO", 114}, {"es_CR", 114}, {"es_DO", 114}, {"es_EC", 114}, {"es_SV", 114}, {"es_GT", 114},
    {"es_HN", 114}, {"es_MX", 114}, {"es_NI", 114}, {"es_PA", 114}, {"es_PY", 114}, {"es_PE", 114}, {"es_PR", 114},
    {"es_UY", 114}, {"es_VE", 114}, {"fr", 116},    {"it", 117},    {"ja", 118},    {"ko", 119},    {"nl", 120},
    {"pl", 121},    {"pt", 122},    {"ro", 123},    {"ru", 124},    {"th", 125},    {"tr", 126},    {"zh", 127},
    {"zh_CN", 127}, {"zh_SG", 127}, {"zh_TW", 128}, {"zh_HK", 128}, {"zh_MO", 128},
};

}  // namespace

EmbeddedMessageCatalog::EmbeddedMessageCatalog(std::string domain) : domain_(std::move(domain)) {}

void EmbeddedMessageCatalog::AddCatalog(const std::string& languageFolder, std::uint16_t resourceId) {
    entries_.emplace(GetPath() + "/" + languageFolder + "/LC_MESSAGES/" + GetDomain() + ".mo", resourceId);
}

std::string EmbeddedMessageCatalog::GetPath() const {
    return {};
}

std::string EmbeddedMessageCatalog::GetDomain() const {
    return domain_;
}

std::vector<char> EmbeddedMessageCatalog::Load(const std::string& fileName,
                                               const std::string& /*encoding*/) const {
    const auto entry = entries_.find(fileName);
    if (entry == entries_.end()) return {};
    const auto bytes = LoadMessageCatalogResource(entry->second);
    return std::vector<char>(bytes.begin(), bytes.end());
}

void AddEmbeddedLanguageFolders(EmbeddedMessageCatalog& catalog) {
    for (const auto& [folder, resourceId] : kLanguageFolders)
        catalog.AddCatalog(folder, resourceId);
}

}  // namespace qelt

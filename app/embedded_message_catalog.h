#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/message_catalog.h"

namespace qelt {

// Serves the catalogs compiled into the program (resources/message_catalogs.h) under the file names Boost.Locale
// asks for. GetPath is empty, so the German catalog is "/de/LC_MESSAGES/updater.mo".
class EmbeddedMessageCatalog : public MessageCatalog {
public:
    explicit EmbeddedMessageCatalog(std::string domain);

    // Answers the catalog file of `languageFolder` with resource `resourceId`. A folder already added keeps its
    // first resource.
    void AddCatalog(const std::string& languageFolder, std::uint16_t resourceId);

    std::string GetPath() const override;
    std::string GetDomain() const override;
    // The bytes of the resource registered for exactly `fileName`; empty for a file name not registered or a
    // resource that is not there. The encoding is not used: the names are ASCII.
    std::vector<char> Load(const std::string& fileName, const std::string& encoding) const override;

private:
    std::string domain_;
    std::map<std::string, std::uint16_t> entries_;
};

// Registers the language-folder table of the embedded catalogs, in its fixed order: each language folder a
// gettext lookup may ask for, with the catalog that answers it (es_MX is answered by the Latin-American Spanish
// catalog, zh_SG by Simplified Chinese, zh_HK by Traditional Chinese, and so on).
void AddEmbeddedLanguageFolders(EmbeddedMessageCatalog& catalog);

}  // namespace qelt

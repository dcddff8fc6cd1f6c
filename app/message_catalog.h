#pragma once

#include <string>
#include <vector>

namespace qelt {

// Where the gettext catalogs of one domain come from. The locale hands Load to Boost.Locale as its file loader,
// so catalogs can live anywhere, not only in files. Called on the thread that sets the locale's language.
class MessageCatalog {
public:
    MessageCatalog() = default;
    MessageCatalog(const MessageCatalog&) = delete;
    MessageCatalog& operator=(const MessageCatalog&) = delete;
    virtual ~MessageCatalog() = default;

    // The root folder the catalog file names start with.
    virtual std::string GetPath() const = 0;
    // The gettext domain, the catalog files' base name.
    virtual std::string GetDomain() const = 0;
    // The content of the catalog file `fileName` (GetPath() + "/" + folder + "/LC_MESSAGES/" + GetDomain() +
    // ".mo"), empty when there is none. Never throws for a missing catalog.
    virtual std::vector<char> Load(const std::string& fileName, const std::string& encoding) const = 0;
};

}  // namespace qelt

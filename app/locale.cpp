#include "app/locale.h"

#include <boost/locale/format.hpp>
#include <boost/locale/generator.hpp>
#include <boost/locale/gnu_gettext.hpp>
#include <boost/locale/info.hpp>
#include <boost/locale/message.hpp>
#include <cstdlib>
#include <iomanip>
#include <optional>
#include <sstream>
#include <utility>

#include "app/message_catalog.h"

namespace qelt {
namespace {

void ReplaceAll(std::string& text, const std::string& placeholder, const std::string& value) {
    // Scanning on after the inserted value: a value that contains the placeholder is not replaced again.
    for (auto at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
        text.replace(at, placeholder.size(), value);
        at += value.size();
    }
}

struct DurationText {
    const char* id;
    std::optional<std::int32_t> first;
    std::optional<std::int32_t> second;
};

// The first matching row wins.
DurationText ChooseDurationText(std::int32_t h, std::int32_t m, std::int32_t s) {
    if (h > 1) {
        if (m > 1) return {"{1} hours, {2} minutes remaining", h, m};
        if (m == 1) return {"{1} hours, 1 minute remaining", h, {}};
        return {"{1} hours remaining", h, {}};
    }
    if (h == 1) {
        if (m > 1) return {"1 hour, {1} minutes remaining", m, {}};
        if (m == 1) return {"1 hour, 1 minute remaining", {}, {}};
        return {"1 hour remaining", {}, {}};
    }
    if (m > 1) return {"{1} minutes remaining", m, {}};
    if (m == 1) return {"1 minute remaining", {}, {}};
    if (s == 1) return {"1 second remaining", {}, {}};
    return {"{1} seconds remaining", s > 1 ? s : 0, {}};
}

// Every text inside the program is UTF-8, whatever the system's character set: a catalog converted to another
// encoding would not display, and one that cannot be converted makes Boost.Locale throw.
std::string WithUtf8Encoding(const std::string& name) {
    const auto variant = name.find('@');
    const auto base = name.substr(0, variant);
    const auto language = base.substr(0, base.find('.'));
    return language + ".UTF-8" + (variant == std::string::npos ? std::string() : name.substr(variant));
}

// The locale the user chose for messages, looked up as a POSIX program does: LC_ALL, then LC_MESSAGES, then
// LANG, the first that is set and non-empty; none means the untranslated "C" locale. (Boost.Locale's own
// lookup reads the character-type setting instead, so a user with English messages and a German character type
// would see German.)
std::string UserMessagesLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return value;
    }
    return "C";
}

}  // namespace

std::string SimpleLocale::TranslateWith(const std::string& id, const std::string& argument) const {
    std::string text = Translate(id);
    ReplaceAll(text, "{1}", Translate(argument));
    return text;
}

std::string SimpleLocale::Format(const std::string& id, const std::string& first,
                                 const std::string& second) const {
    std::string text = Format(id, first);
    ReplaceAll(text, "{2}", second);
    return text;
}

std::string SimpleLocale::Format(const std::string& id, const std::string& text) const {
    std::string result = Translate(id);
    ReplaceAll(result, "{1}", text);
    return result;
}

std::string SimpleLocale::FormatNumber(double value, std::int32_t precision) const {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::fixed << std::setprecision(precision) << value;
    return out.str();
}

std::string SimpleLocale::FormatPercent(double fraction, std::int32_t precision) const {
    return FormatNumber(100.0 * fraction, precision) + "%";
}

std::string SimpleLocale::FormatSize(std::uint64_t bytes) const {
    constexpr std::uint64_t kMegabyte = 1048576;
    constexpr std::uint64_t kGigabyte = 1073741824;
    const auto value = static_cast<double>(bytes);
    if (bytes < kMegabyte) return FormatNumber(value / 1024.0, 0) + " KB";
    if (bytes < kGigabyte) return FormatNumber(value / static_cast<double>(kMegabyte), 2) + " MB";
    return FormatNumber(value / static_cast<double>(kGigabyte), 2) + " GB";
}

std::string SimpleLocale::FormatRemainingTime(std::int32_t seconds) const {
    if (seconds == -1) return Translate("Calculating time remaining");
    // In 64 bits: adding the minute to an estimate near the int32 limit must not wrap to a negative time.
    std::int64_t shown = seconds;
    if (shown > 60) shown += 60;
    return FormatDuration(static_cast<std::int32_t>(shown / 3600), static_cast<std::int32_t>(shown % 3600 / 60),
                          static_cast<std::int32_t>(shown % 60));
}

BoostLocale::BoostLocale(std::string domain, std::string path)
    : domain_(std::move(domain)), path_(std::move(path)) {}

std::string BoostLocale::GetLanguage() const {
    return language_;
}

std::string BoostLocale::Translate(const std::string& id) const {
    return boost::locale::translate(id).str(locale_, domain_);
}

std::string BoostLocale::FormatDuration(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) const {
    const DurationText choice = ChooseDurationText(hours, minutes, seconds);
    boost::locale::format text(Translate(choice.id));
    if (choice.first) text % *choice.first;
    if (choice.second) text % *choice.second;
    return text.str(locale_);
}

void BoostLocale::Adopt(std::string code, const std::locale& locale) {
    language_ = std::move(code);
    locale_ = locale;
}

CustomBoostLocale::CustomBoostLocale(const MessageCatalog& catalog, const std::string& code)
    : BoostLocale(catalog.GetDomain(), catalog.GetPath()), catalog_(catalog) {
    CustomBoostLocale::SetLanguage(code);
}

void CustomBoostLocale::SetLanguage(const std::string& code) {
    namespace gettext = boost::locale::gnu_gettext;
    std::locale locale = std::locale::classic();
    try {
        boost::locale::generator generator;
        locale = generator.generate(WithUtf8Encoding(code.empty() ? UserMessagesLocale() : code));
        const auto& info = std::use_facet<boost::locale::info>(locale);
        gettext::messages_info messages;
        messages.language = info.language();
        messages.country = info.country();
        messages.variant = info.variant();
        messages.encoding = info.encoding();
        messages.locale_category = "LC_MESSAGES";
        messages.paths.push_back(GetPath());
        messages.domains.push_back(gettext::messages_info::domain(GetDomain()));
        const MessageCatalog& catalog = catalog_;
        messages.callback = [&catalog](const std::string& fileName, const std::string& encoding) {
            return catalog.Load(fileName, encoding);
        };
        locale = std::locale(locale, gettext::create_messages_facet<char>(messages));
    } catch (const std::exception&) {
        // A locale Boost.Locale cannot generate or a catalog it cannot read: the English identifiers are shown.
    }
    Adopt(code, locale);
}

}  // namespace qelt

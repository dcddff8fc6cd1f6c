#pragma once

#include <cstdint>
#include <locale>
#include <string>

namespace qelt {

class MessageCatalog;

// The current language of the user interface: translates English message identifiers and fills their numbered
// placeholders "{1}" and "{2}", and formats numbers, sizes and remaining times.
//
// SetLanguage runs on the dialog thread before any transfer starts; the other operations run on the dialog and
// the monitor threads. Nothing is locked: the language must not change while another thread translates.
class SimpleLocale {
public:
    SimpleLocale() = default;
    SimpleLocale(const SimpleLocale&) = delete;
    SimpleLocale& operator=(const SimpleLocale&) = delete;
    virtual ~SimpleLocale() = default;

    // The code last passed to SetLanguage, also when no catalog matched it.
    virtual std::string GetLanguage() const = 0;
    // Switches the language; the empty code follows the user's system locale.
    virtual void SetLanguage(const std::string& code) = 0;
    // The translation of `id`, or `id` itself when the catalog has none.
    virtual std::string Translate(const std::string& id) const = 0;
    // Translate(id) with every "{1}" replaced by Translate(argument).
    virtual std::string TranslateWith(const std::string& id, const std::string& argument) const;
    // Format(id, first), then every "{2}" replaced by `second` (also one that `first` brought in).
    virtual std::string Format(const std::string& id, const std::string& first, const std::string& second) const;
    // Translate(id) with every "{1}" replaced by `text`, untranslated.
    virtual std::string Format(const std::string& id, const std::string& text) const;
    // `value` in fixed notation with `precision` decimals, "." as the decimal point.
    virtual std::string FormatNumber(double value, std::int32_t precision) const;
    // 100 x `fraction` as FormatNumber, followed by "%".
    virtual std::string FormatPercent(double fraction, std::int32_t precision) const;
    // "N KB" (no decimals) below 1 MiB, "N.NN MB" below 1 GiB, else "N.NN GB"; units of 1024.
    virtual std::string FormatSize(std::uint64_t bytes) const;
    // "Calculating time remaining" for -1; otherwise the seconds, shown one minute higher above one minute so
    // the text never promises less than is left, split into hours, minutes and seconds for FormatDuration.
    virtual std::string FormatRemainingTime(std::int32_t seconds) const;
    // One of the remaining-time texts, chosen by the largest unit that is non-zero; seconds only appear when
    // there are no whole minutes or hours.
    virtual std::string FormatDuration(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) const = 0;
};

// A locale whose translations and placeholder formatting go through Boost.Locale. The classic locale, which
// translates nothing, until a language is set.
class BoostLocale : public SimpleLocale {
public:
    std::string GetLanguage() const override;
    std::string Translate(const std::string& id) const override;
    std::string FormatDuration(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) const override;

protected:
    BoostLocale(std::string domain, std::string path);

    const std::string& GetDomain() const { return domain_; }
    const std::string& GetPath() const { return path_; }
    // Makes `locale` (with its message facet, if any) the current one for the language `code`.
    void Adopt(std::string code, const std::locale& locale);

private:
    std::string domain_;
    std::string path_;
    std::string language_;
    std::locale locale_ = std::locale::classic();
};

// The program's locale: the language's catalog is read from a MessageCatalog, which must outlive the locale.
class CustomBoostLocale : public BoostLocale {
public:
    CustomBoostLocale(const MessageCatalog& catalog, const std::string& code);

    // Generates the locale of `code` (language, optionally "_" country and "@" variant; the empty code takes the
    // user's locale for messages: LC_ALL, else LC_MESSAGES, else LANG, else "C") and loads its catalog, trying
    // language_COUNTRY@variant, language@variant, language_COUNTRY and language in that order. Texts are always
    // UTF-8: an encoding in `code` is replaced. A language without a catalog shows the English identifiers. Never
    // throws.
    void SetLanguage(const std::string& code) override;

private:
    const MessageCatalog& catalog_;
};

}  // namespace qelt

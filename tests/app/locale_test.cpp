#include "app/locale.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "resources/deployment.h"
#include "tests/support/environment_guard.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

class LocaleTest : public ::testing::Test {
protected:
    LocaleTest() { AddEmbeddedLanguageFolders(catalog_); }

    CustomBoostLocale In(const std::string& code) const { return CustomBoostLocale(catalog_, code); }

    EmbeddedMessageCatalog catalog_{"updater"};
};

TEST_F(LocaleTest, RemainingTimeInEnglishFollowsEveryRowOfTheTable) {
    const auto english = In("en_US");
    const std::pair<std::int32_t, const char*> rows[] = {
        {-1, "Calculating time remaining"},
        {0, "0 seconds remaining"},
        {1, "1 second remaining"},
        {59, "59 seconds remaining"},
        {60, "1 minute remaining"},
        {61, "2 minutes remaining"},
        {119, "2 minutes remaining"},
        {120, "3 minutes remaining"},
        {3539, "59 minutes remaining"},
        {3540, "1 hour remaining"},
        {3600, "1 hour, 1 minute remaining"},
        {3660, "1 hour, 2 minutes remaining"},
        {7140, "2 hours remaining"},
        {7200, "2 hours, 1 minute remaining"},
        {7260, "2 hours, 2 minutes remaining"},
        {-30, "0 seconds remaining"},
        {INT32_MAX, "596523 hours, 15 minutes remaining"},
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(english.FormatRemainingTime(seconds), text) << seconds;
}

TEST_F(LocaleTest, DurationRowsCoverEveryUnitCombination) {
    const auto english = In("en");
    EXPECT_EQ(english.FormatDuration(3, 0, 59), "3 hours remaining");
    EXPECT_EQ(english.FormatDuration(1, 0, 30), "1 hour remaining");
    EXPECT_EQ(english.FormatDuration(0, 0, 2), "2 seconds remaining");
    EXPECT_EQ(english.FormatDuration(-1, -1, -5), "0 seconds remaining");
}

TEST_F(LocaleTest, RemainingTimeInGermanAndJapaneseUsesTheCatalogText) {
    const auto german = In("de");
    EXPECT_EQ(german.FormatRemainingTime(-1), "Verbleibende Zeit wird berechnet");
    EXPECT_EQ(german.FormatRemainingTime(1), "Noch 1 Sekunde");
    EXPECT_EQ(german.FormatRemainingTime(61), "Noch 2 Minuten");
    EXPECT_EQ(german.FormatRemainingTime(7200), "Noch 2 Stunden und 1 Minute");
    EXPECT_EQ(german.FormatRemainingTime(10000), "Noch 2 Stunden und 47 Minuten");
    const auto japanese = In("ja_JP");
    EXPECT_EQ(japanese.FormatRemainingTime(0), "残り0秒");
    EXPECT_EQ(japanese.FormatRemainingTime(3660), "残り1時間2分");
    EXPECT_EQ(japanese.FormatRemainingTime(7140), "残り2時間");
}

TEST_F(LocaleTest, LanguageIsTheCodeLastSetEvenWithoutACatalog) {
    auto locale = In("de");
    locale.SetLanguage("xx_YY");
    EXPECT_EQ(locale.GetLanguage(), "xx_YY");
    EXPECT_EQ(locale.Translate("1 hour remaining"), "1 hour remaining");
    locale.SetLanguage("fr");
    EXPECT_EQ(locale.GetLanguage(), "fr");
    EXPECT_EQ(locale.Translate("1 hour remaining"), "1 heure restante");
}

TEST_F(LocaleTest, EmptyCodeFollowsTheSystemLocaleAndKeepsTheLanguageEmpty) {
    test::EnvironmentGuard german("LC_ALL", "de_DE.UTF-8");
    const auto locale = In("");
    EXPECT_EQ(locale.GetLanguage(), "");
    EXPECT_EQ(locale.TranslateWith(kErrorCaptionMessage, "Vellamor"), "Vellamor-Downloader – Fehler");
}

TEST_F(LocaleTest, EmptyCodeTakesTheMessagesSettingInThePosixOrder) {
    // An empty variable counts as unset; the character type must not choose the language of messages.
    test::EnvironmentGuard all("LC_ALL", "");
    test::EnvironmentGuard type("LC_CTYPE", "fr_FR.UTF-8");
    test::EnvironmentGuard lang("LANG", "it_IT.UTF-8");
    {
        test::EnvironmentGuard messages("LC_MESSAGES", "de_DE.UTF-8");
        EXPECT_EQ(In("").Translate("1 hour remaining"), "Noch 1 Stunde");
        test::EnvironmentGuard overriding("LC_ALL", "nl_NL.UTF-8");
        EXPECT_EQ(In("").Translate("1 hour remaining"), "Nog 1 uur");
    }
    test::EnvironmentGuard noMessages("LC_MESSAGES", "");
    EXPECT_EQ(In("").Translate("1 hour remaining"), "Tempo rimanente: 1 ora");
    test::EnvironmentGuard noLang("LANG", "");
    EXPECT_EQ(In("").Translate("1 hour remaining"), "1 hour remaining");
}

TEST_F(LocaleTest, SystemLocaleInAnotherCharacterSetStillReadsTheUtf8Catalog) {
    test::EnvironmentGuard latin("LC_ALL", "fr_FR.ISO-8859-1");
    EXPECT_EQ(In("").Translate(kWindowTitleMessage), "Téléchargeur {1}");
    EXPECT_EQ(In("el_GR.ISO-8859-7").Translate("1 hour remaining"), "Απομένει 1 ώρα");
}

TEST_F(LocaleTest, LookupFallsBackFromCountryToLanguage) {
    const auto connection = ErrorMessage(TransferError::ConnectionError);
    EXPECT_EQ(In("es_MX").Translate(connection).substr(0, 11), "No pudimos ") << "Latin-American catalog";
    EXPECT_EQ(In("es").Translate(connection).substr(0, 16), "No hemos podido ") << "catalog of Spain";
    EXPECT_EQ(In("pt_BR").Translate("1 hour remaining"), "1 hora restante");
    EXPECT_EQ(In("zh_HK").Translate("1 hour remaining"), "剩餘 1 小時");
    EXPECT_EQ(In("zh_SG").Translate("1 hour remaining"), "剩余 1 小时");
    EXPECT_EQ(In("en_US").Translate(connection), connection);
    EXPECT_EQ(In("de_AT@euro").Translate("1 hour remaining"), "Noch 1 Stunde");
}

TEST_F(LocaleTest, PlaceholdersAreFilledOnceAndArgumentsTranslated) {
    const auto german = In("de");
    EXPECT_EQ(german.TranslateWith(kWindowTitleMessage, "1 hour remaining"), "Noch 1 Stunde-Downloader")
        << "a game name that is an identifier is translated too";
    EXPECT_EQ(german.Format(kWindowTitleMessage, "1 hour remaining"), "1 hour remaining-Downloader");
    const auto english = In("en");
    EXPECT_EQ(english.Format(kWindowTitleMessage, "A{2}B", "x"), "AxB Downloader");
    EXPECT_EQ(english.Format("{1}+{1}", "{1}"), "{1}+{1}") << "an inserted placeholder is not filled again";
}

TEST_F(LocaleTest, NumbersAndSizes) {
    const auto locale = In("de");
    EXPECT_EQ(locale.FormatNumber(1234.5678, 2), "1234.57") << "no grouping and a point, whatever the language";
    EXPECT_EQ(locale.FormatPercent(0.4567, 1), "45.7%");
    EXPECT_EQ(locale.FormatSize(0), "0 KB");
    EXPECT_EQ(locale.FormatSize(1048575), "1024 KB");
    EXPECT_EQ(locale.FormatSize(1048576), "1.00 MB");
    EXPECT_EQ(locale.FormatSize(1073741823), "1024.00 MB");
    EXPECT_EQ(locale.FormatSize(1073741824), "1.00 GB");
}

TEST(ErrorMessage, EachCodeHasItsText) {
    const std::string unexpected = "An unexpected error occurred. Please visit " +
                                   std::string(deployment::SupportHost()) + " for further assistance.";
    const std::string disk =
        "We're having some trouble writing to your disk. Can you make sure your user account has sufficient "
        "permissions and try again?";
    const std::string expected[] = {
        unexpected,
        unexpected,
        "We couldn't establish a connection. Could you please check your connection and try again?",
        "The system is out of memory; are you running too many programs? Free up some memory and try again.",
        "It looks like your system disk is out of space. Free some space and give it another try.",
        disk,
        unexpected,
        disk,
        unexpected,
        unexpected,
    };
    for (int code = 0; code <= 9; ++code)
        EXPECT_EQ(ErrorMessage(static_cast<TransferError>(code)), expected[code]) << code;
    EXPECT_EQ(ErrorMessage(static_cast<TransferError>(200)), unexpected);
}

TEST_F(LocaleTest, LaunchFailureNamesTheGameAndTheSupportHost) {
    const std::string host(deployment::SupportHost());
    EXPECT_EQ(In("en").TranslateWith(LaunchFailureMessage(), "Vellamor"),
              "The Vellamor Downloader could not be launched. Please visit " + host + " for further assistance.");
    EXPECT_EQ(
        In("de").TranslateWith(LaunchFailureMessage(), "Vellamor"),
        "Der Vellamor-Downloader konnte nicht gestartet werden. Weitere Hilfe erhalten Sie unter " + host + ".");
}

// Catalogs read from files under one folder, for a catalog made by the test.
class FolderMessageCatalog : public MessageCatalog {
public:
    explicit FolderMessageCatalog(std::string path) : path_(std::move(path)) {}
    std::string GetPath() const override { return path_; }
    std::string GetDomain() const override { return "updater"; }
    std::vector<char> Load(const std::string& fileName, const std::string&) const override {
        std::ifstream in(fileName, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

TEST(PartialCatalog, AMissingIdentifierIsShownInEnglish) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "de/LC_MESSAGES");
    std::ofstream(dir / "partial.po") << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                                         "msgid \"{1} Downloader\"\nmsgstr \"{1}-Downloader\"\n";
    const auto command = std::string(QELT_MSGFMT) + " -o '" + (dir / "de/LC_MESSAGES/updater.mo").string() +
                         "' '" + (dir / "partial.po").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);

    FolderMessageCatalog catalog(dir.path().string());
    const CustomBoostLocale german(catalog, "de");
    EXPECT_EQ(german.TranslateWith(kWindowTitleMessage, "Vellamor"), "Vellamor-Downloader");
    const auto disk = ErrorMessage(TransferError::DiskAccessError);
    EXPECT_EQ(german.Translate(disk), disk);
    EXPECT_EQ(german.FormatRemainingTime(120), "3 minutes remaining");
}

}  // namespace
}  // namespace qelt

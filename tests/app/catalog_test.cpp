#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "resources/deployment.h"
#include "resources/message_catalogs.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

const char* const kCatalogLanguages[] = {"cs", "de", "el", "es_AR", "es_ES", "fr", "it", "ja",    "ko",
                                         "nl", "pl", "pt", "ro",    "ru",    "th", "tr", "zh_CN", "zh_TW"};

std::vector<std::string> AllIdentifiers() {
    return {
        "Calculating time remaining",
        "{1} hours, {2} minutes remaining",
        "{1} hours, 1 minute remaining",
        "{1} hours remaining",
        "1 hour, {1} minutes remaining",
        "1 hour, 1 minute remaining",
        "1 hour remaining",
        "{1} minutes remaining",
        "1 minute remaining",
        "{1} seconds remaining",
        "1 second remaining",
        kWindowTitleMessage,
        kErrorCaptionMessage,
        kLaunchingMessage,
        ErrorMessage(TransferError::ConnectionError),
        ErrorMessage(TransferError::MemoryError),
        ErrorMessage(TransferError::DiskFullError),
        ErrorMessage(TransferError::DiskAccessError),
        ErrorMessage(TransferError::InternalError),
        LaunchFailureMessage(),
    };
}

// Every "{digits}" in the text.
std::multiset<std::string> Placeholders(const std::string& text) {
    std::multiset<std::string> found;
    for (auto open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
        const auto close = text.find_first_not_of("0123456789", open + 1);
        if (close != std::string::npos && close > open + 1 && text[close] == '}') {
            found.insert(text.substr(open, close - open + 1));
        }
    }
    return found;
}

TEST(Catalogs, EveryLanguageTranslatesEveryIdentifierKeepingItsPlaceholders) {
    EmbeddedMessageCatalog catalog("updater");
    AddEmbeddedLanguageFolders(catalog);
    const std::string host(deployment::SupportHost());
    for (const char* language : kCatalogLanguages) {
        const CustomBoostLocale locale(catalog, language);
        std::set<std::string> texts;
        for (const auto& id : AllIdentifiers()) {
            const auto text = locale.Translate(id);
            EXPECT_NE(text, id) << language << " lacks: " << id;
            EXPECT_EQ(Placeholders(text), Placeholders(id)) << language << ": " << text;
            if (id.find(host) != std::string::npos) {
                EXPECT_NE(text.find(host), std::string::npos) << language;
            }
            texts.insert(text);
        }
        EXPECT_EQ(texts.size(), AllIdentifiers().size()) << language << " gives two identifiers the same text";
    }
}

TEST(Catalogs, SourcesPassMsgfmtCheckWithTwentyTranslatedMessages) {
    test::TempDir dir;
    for (const char* language : kCatalogLanguages) {
        const auto output = dir / "msgfmt.txt";
        const std::string command = std::string(QELT_MSGFMT) + " --check --statistics -o /dev/null '" +
                                    QELT_CATALOG_DIR + "/" + language + ".po' 2> '" + output.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << language;
        std::stringstream report;
        report << std::ifstream(output).rdbuf();
        EXPECT_EQ(report.str(), "20 translated messages.\n") << language;
    }
}

TEST(Catalogs, LanguageFoldersAnswerWithTheirResource) {
    EmbeddedMessageCatalog catalog("updater");
    AddEmbeddedLanguageFolders(catalog);
    const auto bytesOf = [](unsigned id) {
        const auto bytes = LoadMessageCatalogResource(id);
        return std::vector<char>(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(catalog.Load("/de/LC_MESSAGES/updater.mo", "UTF-8"), bytesOf(112));
    EXPECT_EQ(catalog.Load("/es/LC_MESSAGES/updater.mo", ""), bytesOf(115));
    EXPECT_EQ(catalog.Load("/es_VE/LC_MESSAGES/updater.mo", ""), bytesOf(114));
    EXPECT_EQ(catalog.Load("/zh_MO/LC_MESSAGES/updater.mo", ""), bytesOf(128));
    EXPECT_FALSE(bytesOf(112).empty());
    EXPECT_TRUE(catalog.Load("/en/LC_MESSAGES/updater.mo", "").empty());
    EXPECT_TRUE(catalog.Load("de/LC_MESSAGES/updater.mo", "").empty()) << "names match exactly";
    EXPECT_TRUE(LoadMessageCatalogResource(110).empty());
    EXPECT_TRUE(LoadMessageCatalogResource(129).empty());
}

}  // namespace
}  // namespace qelt

#include "app/launch_options.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "resources/string_table.h"

namespace qelt {
namespace {

StringLoader TableOf(std::map<unsigned, std::string> table) {
    return [table = std::move(table)](unsigned id) {
        auto it = table.find(id);
        return it == table.end() ? std::string() : it->second;
    };
}

LaunchOptions Parsed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "/opt/bootstrapper");
    return LaunchOptions::Load(TableOf({}), arguments, "/home/player/.cache");
}

TEST(KeyedString, WholeTextWithoutLanguage) {
    EXPECT_EQ(ReadKeyedString("de=Spiel;fr=Jeu", ""), "de=Spiel;fr=Jeu");
    EXPECT_EQ(ReadKeyedString("Vellamor", ""), "Vellamor");
}

TEST(KeyedString, PairForTheLanguage) {
    EXPECT_EQ(ReadKeyedString("de=Spiel;fr=Jeu", "de"), "Spiel");
    EXPECT_EQ(ReadKeyedString("de=Spiel;fr=Jeu", "fr"), "Jeu");
    EXPECT_EQ(ReadKeyedString("de=Spiel;fr=Jeu", "en"), "");
    EXPECT_EQ(ReadKeyedString("de=Spiel;fr=Jeu", "DE"), "") << "codes compare case-sensitively";
}

TEST(KeyedString, PlainValueReadsEmptyOnceALanguageIsChosen) {
    EXPECT_EQ(ReadKeyedString("Vellamor", "de"), "");
}

TEST(KeyedString, FirstMatchWinsAndValueKeepsLaterEquals) {
    EXPECT_EQ(ReadKeyedString("de=a;de=b", "de"), "a");
    EXPECT_EQ(ReadKeyedString(";;de=x=y;", "de"), "x=y");
    EXPECT_EQ(ReadKeyedString("=orphan;de=Spiel", "de"), "Spiel");
    EXPECT_EQ(ReadKeyedString("noequals;de=Spiel", "noequals"), "");
}

TEST(LanguageList, PairsInWrittenOrderSkippingTokensWithoutEquals) {
    const auto languages = ParseLanguageList(
        "en=English;broken;;de=Deutsch;fr=Fran\xC3\xA7"
        "ais");
    ASSERT_EQ(languages.size(), 3u);
    EXPECT_EQ(languages[0], (LanguageEntry{"en", "English"}));
    EXPECT_EQ(languages[1], (LanguageEntry{"de", "Deutsch"}));
    EXPECT_EQ(languages[2].code, "fr");
}

TEST(LogOption, ParsesWithThirtyTwoBitUnsignedLongRules) {
    EXPECT_EQ(Parsed({"log=7"}).logLevel, 7);
    EXPECT_EQ(Parsed({"log=4294967295"}).logLevel, -1);
    EXPECT_EQ(Parsed({"log=-1"}).logLevel, -1);
    EXPECT_EQ(Parsed({"log= 12"}).logLevel, 12);
    EXPECT_EQ(Parsed({"log=+5"}).logLevel, 5);
    EXPECT_EQ(Parsed({"log=12abc"}).logLevel, 12);
    EXPECT_EQ(Parsed({"log=-4294967295"}).logLevel, 1);
    EXPECT_EQ(Parsed({"log=2147483648"}).logLevel, INT32_MIN);
}

TEST(LogOption, FailuresCarryTheStandardMessages) {
    const auto message = [](const char* value) {
        LaunchOptions options;
        return options.ParseCommandLine({std::string("log=") + value}).value_or("no error");
    };
    EXPECT_EQ(message("4294967296"), "stoul argument out of range");
    EXPECT_EQ(message("99999999999999999999999"), "stoul argument out of range");
    EXPECT_EQ(message("x"), "invalid stoul argument");
    EXPECT_EQ(message(""), "invalid stoul argument");
    EXPECT_EQ(message("-"), "invalid stoul argument");
    EXPECT_EQ(message(" "), "invalid stoul argument");
    EXPECT_THROW(ParseUnsignedLong32("-4294967296"), std::out_of_range);
}

TEST(LogOption, FailedParseKeepsThePreviousLevel) {
    EXPECT_EQ(Parsed({"log=4294967296"}).logLevel, -9);
    EXPECT_EQ(Parsed({"log=3", "log=x"}).logLevel, 3);
    EXPECT_EQ(Parsed({"log="}).logLevel, -9);
}

TEST(CommandLine, FailedParseStopsThePass) {
    const auto stopped = Parsed({"log=x", "packageVersion=12"});
    EXPECT_EQ(stopped.logLevel, -9);
    EXPECT_EQ(stopped.packageVersion, "?");

    const auto taken = Parsed({"log=7", "packageVersion=12"});
    EXPECT_EQ(taken.logLevel, 7);
    EXPECT_EQ(taken.packageVersion, "12");

    const auto kept = Parsed({"skinVersion=3", "log=x", "skinVersion=4"});
    EXPECT_EQ(kept.skinVersion, "3") << "values taken before the failure stay";
}

TEST(CommandLine, LaterOptionOverridesEarlier) {
    const auto options = Parsed({"packageVersion=1", "skinVersion=a", "packageVersion=2", "skinVersion=b"});
    EXPECT_EQ(options.packageVersion, "2");
    EXPECT_EQ(options.skinVersion, "b");
}

TEST(CommandLine, EmptyPackageVersionDiffersFromUnspecified) {
    const auto options = Parsed({"packageVersion="});
    EXPECT_EQ(options.packageVersion, "");
    EXPECT_NE(options.packageVersion, UnspecifiedVersion);
}

TEST(CommandLine, OptionsAreCaseSensitivePrefixesAndOthersIgnored) {
    const auto options = Parsed({"PackageVersion=9", " log=3", "xskinVersion=2", "/log=4", "something"});
    EXPECT_EQ(options.packageVersion, "?");
    EXPECT_EQ(options.skinVersion, "?");
    EXPECT_EQ(options.logLevel, -9);
}

TEST(CommandLine, ArgumentZeroIsTheProgramAndIsParsedToo) {
    const auto options = LaunchOptions::Load(TableOf({}), std::vector<std::string>{"log=5"}, "/t");
    EXPECT_EQ(options.programPath, "log=5");
    EXPECT_EQ(options.logLevel, 5);
}

TEST(CommandLine, UnsplittableCommandLineReadsNothing) {
    const auto options = LaunchOptions::Load(TableOf({}), std::nullopt, "/t");
    EXPECT_EQ(options.programPath, "");
    EXPECT_EQ(options.packageVersion, "?");
    EXPECT_EQ(options.logLevel, -9);
}

TEST(LaunchOptionsLoad, ReadsEveryResourceAndDerivesFolders) {
    const auto options = LaunchOptions::Load(TableOf({{102, "manifests.test"},
                                                      {103, "dp"},
                                                      {104, "pid"},
                                                      {105, "de=gp-de;fr=gp-fr"},
                                                      {106, "de=skin-de;fr=skin-fr"},
                                                      {107, "dl"},
                                                      {108, "de=Spiel;fr=Jeu"},
                                                      {109, "Folder"},
                                                      {129, "de=Deutsch;fr=Francais"},
                                                      {130, "fr"}}),
                                             std::vector<std::string>{"/opt/b"}, "/home/p/.cache");
    EXPECT_EQ(options.manifestHost, "manifests.test");
    EXPECT_EQ(options.downloaderPartnerId, "dp");
    EXPECT_EQ(options.partnerId, "pid");
    EXPECT_EQ(options.downloaderPackageId, "dl");
    EXPECT_EQ(options.dataFolder, "/home/p/.cache/Orvane Technologies/Quorvel");
    EXPECT_EQ(options.GetGameName("de"), "Spiel");
    EXPECT_EQ(options.GetInstallFolder(""), "Folder");
    EXPECT_EQ(options.GetGamePackageId("fr"), "gp-fr");
    EXPECT_EQ(options.GetSkinFolder("de"), "/home/p/.cache/Orvane Technologies/Quorvel/skin-de");
    EXPECT_EQ(options.languages.size(), 2u);
    EXPECT_EQ(options.GetDefaultLanguage(), "fr");
}

TEST(LaunchOptionsLoad, DefaultLanguageOnlyWithALanguageList) {
    const auto options = LaunchOptions::Load(TableOf({{130, "fr"}}), std::vector<std::string>{"/b"}, "/t");
    EXPECT_EQ(options.defaultLanguage, "fr");
    EXPECT_EQ(options.GetDefaultLanguage(), "");
}

TEST(StringTable, AbsentIdsReadEmptyAndValuesAreCutTo254Characters) {
    EXPECT_EQ(LoadResourceString(101), "");
    EXPECT_EQ(LoadResourceString(StringId::kGameName), std::string(CompiledResourceString(108)));
    EXPECT_EQ(CutResourceString(std::string(300, 'a')), std::string(254, 'a'));
    EXPECT_EQ(CutResourceString(std::string(254, 'a')), std::string(254, 'a'));
    // Characters, not bytes: 300 two-byte characters keep 254 whole characters.
    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA9";
    EXPECT_EQ(CutResourceString(accented), accented.substr(0, 508));
}

}  // namespace
}  // namespace qelt

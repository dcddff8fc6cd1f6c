#include <gtest/gtest.h>

#include "tools/qelt_publish/command_line.h"
#include "tools/qelt_publish/metalink_document.h"
#include "tools/qelt_publish/publish_error.h"
#include "tools/qelt_publish/sha256.h"

namespace qelt::publish {
namespace {

TEST(PublishValuesTest, ChunkSizesTakeBinaryUnitsWithinThirtyTwoBits) {
    EXPECT_EQ(ParseChunkSize("1"), 1u);
    EXPECT_EQ(ParseChunkSize("64K"), 65536u);
    EXPECT_EQ(ParseChunkSize("1MiB"), 1u << 20);
    EXPECT_EQ(ParseChunkSize("3G"), 3u << 30);
    EXPECT_EQ(ParseChunkSize("4294967295"), 4294967295u);
    for (const char* bad : {"", "0", "4G", "4294967296", "-1", "1.5M", "12 M", "1m", "K"})
        EXPECT_THROW(ParseChunkSize(bad), UsageError) << bad;
}

TEST(PublishValuesTest, NodeAddressesDefaultToThePackagesFolder) {
    EXPECT_EQ(ParseNodeAddress("mirror.example"), (NodeAddress{"mirror.example", "/packages/"}));
    EXPECT_EQ(ParseNodeAddress("http://10.0.0.1:8080/cdn"), (NodeAddress{"10.0.0.1:8080", "/cdn/"}));
    EXPECT_EQ(ParseNodeAddress("[::1]:81/"), (NodeAddress{"[::1]:81", "/"}));
    EXPECT_EQ(ParseNodeAddress("cdn.example/a/b/"), (NodeAddress{"cdn.example", "/a/b/"}));
    for (const char* bad : {"", ":80", "https://x", "host:0", "host:99999", "host:", "a:b:c", "us@er/x",
                            "host/a b", "host/../x", "host//x", "host/50%", "host/a?b"}) {
        EXPECT_THROW(ParseNodeAddress(bad), UsageError) << bad;
    }
}

TEST(PublishValuesTest, IdentifiersStandInAUrlPathAsTheyAre) {
    EXPECT_NO_THROW(CheckIdentifier("id", "81f88b11d7e363933742d620"));
    EXPECT_NO_THROW(CheckIdentifier("id", "1.2.3-beta_~x"));
    for (const char* bad : {"", ".", "..", "a/b", "a b", "a%20", "\xc3\xa4", "a\\b", "a?b"})
        EXPECT_THROW(CheckIdentifier("id", bad), UsageError) << bad;
    EXPECT_THROW(CheckVersionId("current"), UsageError);
    EXPECT_NO_THROW(CheckDocumentText("name", "Fish & Chips \xc3\xa4"));
    for (const char* bad : {"tab\there", "\xc3", "\xc0\xaf", "\xed\xa0\x80"})
        EXPECT_THROW(CheckDocumentText("name", bad), UsageError) << bad;
}

TEST(CommandLineTest, ReadsEveryOptionInBothForms) {
    const Command command =
        ParseCommandLine({"--out=/srv/root", "src", "--partner", "p", "--package=k", "--version", "7", "--name",
                          "N", "--run=bin/x", "--chunk-size", "64K", "--node", "a.example",
                          "--node=b.example:81/m", "--current", "--link", "--metalink"});
    ASSERT_EQ(command.kind, Command::Kind::Publish);
    const PublishOptions& options = command.publish;
    EXPECT_EQ(options.source, "src");
    EXPECT_EQ(options.root, "/srv/root");
    EXPECT_EQ(options.partnerId + options.packageId + options.versionId + options.name, "pk7N");
    EXPECT_EQ(options.run, "bin/x");
    EXPECT_EQ(options.chunkSize, 65536u);
    EXPECT_EQ(options.nodes, (std::vector<NodeAddress>{{"a.example", "/packages/"}, {"b.example:81", "/m/"}}));
    EXPECT_TRUE(options.current && options.link && options.metalink);

    EXPECT_EQ(ParseCommandLine({"--check", "r"}).checkRoot, "r");
    EXPECT_EQ(ParseCommandLine({"src", "--help"}).kind, Command::Kind::Help);
    EXPECT_EQ(ParseCommandLine({"--out", "r", "--partner", "p", "--package", "k", "--version", "1", "--", "-src"})
                  .publish.source,
              "-src");
}

TEST(CommandLineTest, RefusesIncompleteOrContradictoryCommands) {
    const std::vector<std::string> good = {"src",       "--out", "r",         "--partner", "p",
                                           "--package", "k",     "--version", "1"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> arguments = good;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    };
    EXPECT_NO_THROW(ParseCommandLine(good));
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {},
             {"src", "--out", "r", "--partner", "p", "--package", "k"},
             with({"other"}),
             with({"--out", "r2"}),
             with({"--current=yes"}),
             with({"--node"}),
             with({"--bogus"}),
             with({"--name", ""}),
             with({"--check", "r"}),
         }) {
        EXPECT_THROW(ParseCommandLine(bad), UsageError) << ::testing::PrintToString(bad);
    }
}

TEST(MetalinkTest, Sha256MatchesTheStandardVectorsAcrossUpdates) {
    Sha256 sha;
    EXPECT_EQ(ToHex(sha.Finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    sha.Update("a", 1);
    sha.Update("bc", 2);
    EXPECT_EQ(ToHex(sha.Finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(MetalinkTest, FileUrlsEncodeEveryNameByte) {
    PackageDescription package;
    package.partnerId = "p";
    package.id = "k";
    package.versionId = "1.0";
    EXPECT_EQ(FileUrl({"h:81", "/m/"}, package, "dir/a b+c%#?.bin"),
              "http://h:81/m/p/k/1.0/dir/a%20b%2Bc%25%23%3F.bin");
}

}  // namespace
}  // namespace qelt::publish

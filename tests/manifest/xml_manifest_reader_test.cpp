#include "manifest/xml_manifest_reader.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <sstream>
#include <vector>

#include "manifest/manifest_exception.h"
#include "tests/manifest/manifest_test_documents.h"

namespace qelt {
namespace {

using test::ReadXml;

std::vector<std::string> Keys(const ptree& node) {
    std::vector<std::string> keys;
    for (const auto& [key, child] : node)
        keys.push_back(key);
    return keys;
}

std::string Nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<a>";
    for (int i = 0; i < depth; ++i)
        xml += "</a>";
    return xml;
}

TEST(XmlManifestReaderTest, AttributesAreAppendedAfterChildrenAndTheBlockStays) {
    const ptree tree = ReadXml("<root b=\"attr-b\" c=\"attr-c\"><c>element-c</c><d>x</d></root>");
    const ptree& root = tree.get_child("root");
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"<xmlattr>", "c", "d", "b", "c"}));
    EXPECT_EQ(root.get<std::string>("b"), "attr-b");
    EXPECT_EQ(root.get<std::string>("c"), "element-c");
    EXPECT_EQ(root.get<std::string>("<xmlattr>.c"), "attr-c");
}

TEST(XmlManifestReaderTest, PromotesAtEveryDepth) {
    const ptree tree = ReadXml("<a x=\"1\"><b y=\"2\"><c z=\"3\"/></b></a>");
    EXPECT_EQ(tree.get<std::string>("a.x"), "1");
    EXPECT_EQ(tree.get<std::string>("a.b.y"), "2");
    EXPECT_EQ(tree.get<std::string>("a.b.c.z"), "3");
}

TEST(XmlManifestReaderTest, PromotingTwiceAddsNoAttributeOfAnAttribute) {
    ptree tree = ReadXml("<a x=\"1\"/>");
    PromoteAttributes(tree);
    EXPECT_EQ(Keys(tree.get_child("a")), (std::vector<std::string>{"<xmlattr>", "x", "x"}));
    EXPECT_EQ(Keys(tree.get_child("a.<xmlattr>")), std::vector<std::string>{"x"});
}

TEST(XmlManifestReaderTest, KeepsTextVerbatimAndCommentsAsChildren) {
    const ptree tree = ReadXml("<?xml version=\"1.0\"?><!-- top --><a>  spaced\n<!-- inner --> text </a>");
    EXPECT_EQ(Keys(tree), (std::vector<std::string>{"<xmlcomment>", "a"}));
    EXPECT_EQ(tree.get<std::string>("a"), "  spaced\n text ");
    EXPECT_EQ(tree.get<std::string>("a.<xmlcomment>"), " inner ");
    EXPECT_EQ(ReadXml("<a>&lt;&amp;&#65;</a>").get<std::string>("a"), "<&A");
}

TEST(XmlManifestReaderTest, DocumentsWithoutExactlyOneElementFail) {
    for (const char* text : {"", "   \n", "<!-- only a comment -->", "<a/><b/>", "just text", "<a>", "<a x=1/>",
                             "<a><b></a>", "</a>", "<a>&#xFFFFFFFF;</a>", "<a>\xff\xfe</a><"}) {
        std::istringstream stream(text);
        ptree tree;
        EXPECT_THROW(ReadXmlManifest(stream, tree), ManifestParseException) << text;
        EXPECT_TRUE(tree.empty());
    }
}

TEST(XmlManifestReaderTest, RefusesNestingBeyondTheLimit) {
    EXPECT_NO_THROW(ReadXml(Nested(kMaxManifestNesting)));
    EXPECT_THROW(ReadXml(Nested(kMaxManifestNesting + 1)), ManifestParseException);
    // Far deeper than any stack allows, had the reader been handed it.
    EXPECT_THROW(ReadXml(Nested(1'000'000)), ManifestParseException);
}

TEST(XmlManifestReaderTest, NestingCountsOnlyWhatTheReaderSeesAsElements) {
    std::string opens;
    for (int i = 0; i < 200; ++i)
        opens += "<a>";
    EXPECT_TRUE(IsXmlWithinLimits(("<r><!--" + opens + "--></r>").c_str(), 2));
    EXPECT_TRUE(IsXmlWithinLimits(("<r><![CDATA[" + opens + "]]></r>").c_str(), 2));
    EXPECT_TRUE(IsXmlWithinLimits(("<?pi " + opens + "?><r/>").c_str(), 2));
    EXPECT_TRUE(IsXmlWithinLimits(("<r a='" + opens + "'/>").c_str(), 2));
    EXPECT_TRUE(IsXmlWithinLimits("<r><b/><b/><b/></r>", 2));
    EXPECT_FALSE(IsXmlWithinLimits("<r><b><c/></b></r>", 1));
}

TEST(XmlManifestReaderTest, NodeLimitCountsElementsAttributesAndOtherMarkup) {
    const char* text = "<?xml version='1.0'?><r a='1' b='2'><!--c--><![CDATA[d]]><e/>text</r>";
    EXPECT_TRUE(IsXmlWithinLimits(text, 5, 7));
    EXPECT_FALSE(IsXmlWithinLimits(text, 5, 6));
    EXPECT_TRUE(IsXmlWithinLimits("<r></r></r><a/><a/>", 5, 1)) << "the reader stops at the stray closing tag";
}

TEST(XmlManifestReaderTest, NestingCannotBeHiddenBehindFakeClosingTags) {
    std::string deep;
    for (int i = 0; i < 10; ++i)
        deep += "<a>";
    // Closing tags inside text, attribute values, comments and a document type are not closing tags.
    EXPECT_FALSE(IsXmlWithinLimits(("<r>" + deep + "</a >" + deep + "</r>").c_str(), 15));
    EXPECT_FALSE(IsXmlWithinLimits(("<r><x v=\"</a></a></a></a></a></a>\">" + deep).c_str(), 10));
    EXPECT_FALSE(IsXmlWithinLimits(("<!DOCTYPE r [<!ENTITY e '</a></a></a>'>]><r>" + deep).c_str(), 10));
    EXPECT_FALSE(IsXmlWithinLimits(("<r><!-- </a></a></a> -->" + deep).c_str(), 10));
    EXPECT_FALSE(IsXmlWithinLimits(("<r><b>/>x/>" + deep).c_str(), 10));
}

}  // namespace
}  // namespace qelt

#include "manifest/node_list_manifest.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "manifest/manifest_exception.h"
#include "manifest/node_manifest.h"
#include "selection/node_statistics.h"
#include "tests/manifest/manifest_test_documents.h"

namespace qelt {
namespace {

using test::ReadXml;

std::shared_ptr<StandardNodeListManifest> ReadNodes(const std::string& inner) {
    auto list = std::make_shared<StandardNodeListManifest>();
    list->Deserialize(ReadXml("<ArrayOfNodeInfo>" + inner + "</ArrayOfNodeInfo>"));
    return list;
}

std::string Node(const std::string& id, const std::string& host, const std::string& extra = "") {
    return "<NodeInfo><NodeId>" + id + "</NodeId><Host>" + host + "</Host>" + extra + "</NodeInfo>";
}

std::shared_ptr<NodeManifest> OnlyNode(const std::string& nodeInfo) {
    const auto list = ReadNodes(nodeInfo);
    EXPECT_EQ(list->GetNodes().size(), 1u);
    return list->GetNodes().at(0);
}

TEST(NodeListManifestTest, ReadsNodesInDocumentOrderWithDefaults) {
    const auto list = ReadNodes(Node("n1", "a.example") + Node("n2", "b.example:8080", "<Weight>3</Weight>"));
    ASSERT_EQ(list->GetNodes().size(), 2u);
    const auto& first = *list->GetNodes()[0];
    EXPECT_EQ(first.GetNodeId(), "n1");
    EXPECT_EQ(first.GetHost(), "a.example");
    EXPECT_EQ(first.GetPath(), "/packages/");
    EXPECT_EQ(first.GetWeight(), 1);
    EXPECT_EQ(list->GetNodes()[1]->GetHost(), "b.example:8080");
    EXPECT_EQ(list->GetNodes()[1]->GetWeight(), 3);
}

TEST(NodeListManifestTest, OtherChildrenAreSkippedButOneNodeIsNeeded) {
    EXPECT_EQ(ReadNodes("<!-- c --><Other/>" + Node("n", "h") + "<nodeinfo/>")->GetNodes().size(), 1u);
    EXPECT_THROW(ReadNodes("<Other><NodeId>n</NodeId><Host>h</Host></Other>"), ManifestParseException);
    EXPECT_THROW(ReadNodes(""), ManifestParseException);
    StandardNodeListManifest list;
    EXPECT_THROW(list.Deserialize(ReadXml("<NodeList>" + Node("n", "h") + "</NodeList>")), ManifestParseException);
    // An attribute on the root is an attribute block plus promoted children, neither of which is a node.
    StandardNodeListManifest withAttribute;
    withAttribute.Deserialize(ReadXml("<ArrayOfNodeInfo version=\"2\">" + Node("n", "h") + "</ArrayOfNodeInfo>"));
    EXPECT_EQ(withAttribute.GetNodes().size(), 1u);
}

TEST(NodeListManifestTest, IdAndHostAreRequired) {
    EXPECT_THROW(ReadNodes("<NodeInfo><Host>h</Host></NodeInfo>"), ManifestParseException);
    EXPECT_THROW(ReadNodes("<NodeInfo><NodeId>n</NodeId></NodeInfo>"), ManifestParseException);
    EXPECT_THROW(ReadNodes(Node("", "h")), ManifestParseException);
    EXPECT_THROW(ReadNodes(Node("n", "")), ManifestParseException);
    EXPECT_THROW(ReadNodes(Node("n", "h") + Node("m", "")), ManifestParseException);
}

TEST(NodeListManifestTest, PathIsNormalisedToBeginAndEndWithSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"packages", "/packages/"}, {"/a/b", "/a/b/"}, {"a/b/", "/a/b/"}, {"/", "/"}, {"", "/"}, {"/x/", "/x/"}};
    for (const auto& [given, expected] : cases) {
        EXPECT_EQ(OnlyNode(Node("n", "h", std::string("<Path>") + given + "</Path>"))->GetPath(), expected)
            << given;
    }
    EXPECT_EQ(OnlyNode("<NodeInfo NodeId=\"n\" Host=\"h\" Path=\"mirror\"/>")->GetPath(), "/mirror/");
}

TEST(NodeListManifestTest, WeightDefaultsWhenAbsentOrMalformed) {
    const std::pair<const char*, int> cases[] = {
        {"abc", 1},        {"0", 0},  {"-3", -3}, {" 5 ", 5},
        {"2147483648", 1}, {"7x", 1}, {"", 1},    {"-2147483648", -2147483647 - 1}};
    for (const auto& [given, expected] : cases) {
        EXPECT_EQ(OnlyNode(Node("n", "h", std::string("<Weight>") + given + "</Weight>"))->GetWeight(), expected)
            << given;
    }
}

TEST(NodeListManifestTest, DuplicateIdsAreSeparateNodesWithTheirOwnStatistics) {
    const auto list = ReadNodes(Node("same", "a") + Node("same", "b"));
    ASSERT_EQ(list->GetNodes().size(), 2u);
    const auto first = list->GetNodes()[0]->GetStatistics();
    const auto second = list->GetNodes()[1]->GetStatistics();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first->RecordRequest(10, 5, false);
    EXPECT_EQ(second->Bytes().Get(), 0u);
    // Every node starts with the plain counters, not a distribution estimate.
    EXPECT_EQ(dynamic_cast<NormalNodeStatistics*>(first.get()), nullptr);
}

TEST(NodeManifestTest, SerializeWritesHostPathWeightAndStatisticsButNoId) {
    const auto node = OnlyNode(Node("secret-id", "h.example:81", "<Path>p</Path><Weight>4</Weight>"));
    node->GetStatistics()->RecordRequest(3000, 1500, false);
    ptree out;
    node->Serialize(out);
    EXPECT_EQ(out.get<std::string>("Node"), "h.example:81");
    EXPECT_EQ(out.get<std::string>("Path"), "/p/");
    EXPECT_EQ(out.get<std::string>("Weight"), "4");
    EXPECT_EQ(out.get<std::string>("Requests"), "1");
    EXPECT_EQ(out.get<std::string>("Bytes"), "3000");
    EXPECT_EQ(out.get<std::string>("Average Request Speed"), "2000");
    EXPECT_FALSE(out.get_child_optional("NodeId"));
    for (const auto& [key, value] : out)
        EXPECT_EQ(value.data().find("secret-id"), std::string::npos) << key;
}

TEST(NodeManifestTest, CloneKeepsIdentityAndSharesTheGivenStatistics) {
    const auto node = OnlyNode(Node("n", "h", "<Path>/base</Path><Weight>-2</Weight>"));
    auto statistics = std::make_shared<ExponentialNormalNodeStatistics>(0.3);
    const auto clone = node->CloneWithStatistics(statistics);
    EXPECT_NE(clone, node);
    EXPECT_EQ(clone->GetNodeId(), "n");
    EXPECT_EQ(clone->GetHost(), "h");
    EXPECT_EQ(clone->GetPath(), "/base/");
    EXPECT_EQ(clone->GetWeight(), -2);
    EXPECT_EQ(clone->GetStatistics(), statistics);
    EXPECT_EQ(clone->shared_from_this(), clone);
    clone->GetStatistics()->RecordRequest(1000, 1000, false);
    EXPECT_EQ(node->GetStatistics()->Bytes().Get(), 0u);
    ptree out;
    clone->Serialize(out);
    EXPECT_EQ(out.get<std::string>("Average Request Speed"), "300");
    EXPECT_EQ(out.get<std::string>("Standard Deviation"), "458");
    EXPECT_THROW(node->CloneWithStatistics(nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace qelt

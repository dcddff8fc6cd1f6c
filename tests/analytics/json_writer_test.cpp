#include "analytics/json_writer.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser/error.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

namespace qelt {
namespace {

using boost::property_tree::ptree;
using boost::property_tree::json_parser::json_parser_error;

ptree Leaf(const std::string& key, const std::string& value) {
    ptree tree;
    tree.push_back(ptree::value_type(key, ptree(value)));
    return tree;
}

std::string ErrorMessage(const ptree& tree) {
    try {
        ToJsonText(tree);
    } catch (const json_parser_error& e) {
        return e.message();
    }
    return "no error";
}

TEST(JsonWriter, EscapesEveryByteByTheTable) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"say \"hi\"", R"(say \"hi\")"},
        {"C:\\dir", R"(C:\\dir)"},
        {"a/b", R"(a\/b)"},
        {"\b\f\n\r", R"(\b\f\n\r)"},
        {"\t", R"(\u0009)"},
        {std::string("\x00\x01\x1F", 3), R"(\u0000\u0001\u001F)"},
        {" ~\x7F", " ~\x7F"},
        {"\xC3\xA9t\xC3\xA9", R"(\u00C3\u00A9t\u00C3\u00A9)"},
        {"\xFF", R"(\u00FF)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToJsonText(Leaf("k", c.in)), "{\"k\":\"" + c.out + "\"}\n") << c.in;
        EXPECT_EQ(ToJsonText(Leaf(c.in, "v")), "{\"" + c.out + "\":\"v\"}\n") << "keys are escaped too: " << c.in;
    }
}

TEST(JsonWriter, WritesCompactNestedObjectsInInsertionOrderWithStringLeaves) {
    ptree tree;
    tree.put("z", 1);
    tree.put("a.b", 2.5);
    tree.put("a.c", "");
    tree.put("m", "x");
    EXPECT_EQ(ToJsonText(tree), R"({"z":"1","a":{"b":"2.5","c":""},"m":"x"})"
                                "\n");
}

TEST(JsonWriter, MarkersAndUnnamedChildren) {
    ptree tree;
    tree.put("o", kJsonEmptyObject);
    tree.put("a", kJsonEmptyArray);
    tree.put("almost", std::string(kJsonEmptyObject) + " ");
    ptree list;
    list.push_back(ptree::value_type("", ptree("1")));
    list.push_back(ptree::value_type("", Leaf("k", "v")));
    list.push_back(ptree::value_type("", ptree(kJsonEmptyArray)));
    tree.add_child("list", list);
    EXPECT_EQ(ToJsonText(tree), std::string(R"({"o":{},"a":[],"almost":")") + kJsonEmptyObject +
                                    R"( ","list":["1",{"k":"v"},[]]})"
                                    "\n");

    // A mix of named and unnamed children is an object, the unnamed members written with an empty key.
    ptree mixed = Leaf("", "x");
    mixed.push_back(ptree::value_type("n", ptree("y")));
    EXPECT_EQ(ToJsonText(mixed), "{\"\":\"x\",\"n\":\"y\"}\n");
}

TEST(JsonWriter, RootIsAnArrayWhenAllItsChildrenAreUnnamedOrItHasNone) {
    EXPECT_EQ(ToJsonText(ptree()), "[]\n");
    ptree root;
    root.push_back(ptree::value_type("", Leaf("a", "1")));
    root.push_back(ptree::value_type("", Leaf("b", "2")));
    EXPECT_EQ(ToJsonText(root), "[{\"a\":\"1\"},{\"b\":\"2\"}]\n");
}

TEST(JsonWriter, RejectsTreesJsonCannotHold) {
    const std::string unrepresentable = "ptree contains data that cannot be represented in JSON format";
    EXPECT_EQ(ErrorMessage(ptree("root value")), unrepresentable);
    ptree both = Leaf("child", "x");
    both.put("child.grandchild", "y");  // "child" now has a value and a child
    EXPECT_EQ(ErrorMessage(both), unrepresentable);
    ptree deep;
    deep.put("a.b.c", "1");
    deep.get_child("a.b").data() = "value";
    EXPECT_EQ(ErrorMessage(deep), unrepresentable);

    // Nothing is written when the tree is rejected.
    std::ostringstream out;
    EXPECT_THROW(WriteJson(out, both), json_parser_error);
    EXPECT_EQ(out.str(), "");
}

TEST(JsonWriter, ABadStreamIsAWriteError) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    try {
        WriteJson(out, Leaf("k", "v"));
        FAIL() << "expected a write error";
    } catch (const json_parser_error& e) {
        EXPECT_EQ(e.message(), "write error");
    }
    std::ostringstream good;
    WriteJson(good, Leaf("k", "v"));
    EXPECT_EQ(good.str(), "{\"k\":\"v\"}\n");
}

}  // namespace
}  // namespace qelt

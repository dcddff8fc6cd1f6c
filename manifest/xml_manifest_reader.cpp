#include "manifest/xml_manifest_reader.h"

#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/ptree.hpp>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "manifest/manifest_exception.h"

namespace qelt {

namespace {

namespace rapidxml = boost::property_tree::detail::rapidxml;

constexpr const char* kAttributes = "<xmlattr>";
constexpr const char* kComment = "<xmlcomment>";

bool IsWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The character classes of the reader's lexer: a name ends at white space, NUL and the characters below.
bool IsNameChar(char c) {
    return c != '\0' && !IsWhitespace(c) && c != '/' && c != '>' && c != '?';
}

bool IsAttributeNameChar(char c) {
    return c != '\0' && !IsWhitespace(c) && c != '!' && c != '/' && c != '<' && c != '=' && c != '>' && c != '?';
}

void SkipWhitespace(const char*& text) {
    while (IsWhitespace(*text))
        ++text;
}

bool StartsWith(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++prefix, ++text) {
        if (*text != *prefix) return false;
    }
    return true;
}

// Advances past the next occurrence of `terminator`; false when the text ends first.
bool SkipPast(const char*& text, const char* terminator) {
    while (!StartsWith(text, terminator)) {
        if (*text == '\0') return false;
        ++text;
    }
    text += std::char_traits<char>::length(terminator);
    return true;
}

// Skips the declarations that begin with "<!" (the "<" and "!" already consumed by the caller's lookahead);
// false when the text ends first.
bool SkipBangNode(const char*& text) {
    if (StartsWith(text, "!--")) {
        text += 3;
        return SkipPast(text, "-->");
    }
    if (StartsWith(text, "![CDATA[")) {
        text += 8;
        return SkipPast(text, "]]>");
    }
    if (StartsWith(text, "!DOCTYPE") && IsWhitespace(text[8])) {
        text += 9;
        while (*text != '>') {
            if (*text == '\0') return false;
            if (*text == '[') {
                ++text;
                for (int brackets = 1; brackets > 0; ++text) {
                    if (*text == '\0') return false;
                    if (*text == '[') ++brackets;
                    if (*text == ']') --brackets;
                }
            } else {
                ++text;
            }
        }
        ++text;
        return true;
    }
    ++text;
    while (*text != '>') {
        if (*text == '\0') return false;
        ++text;
    }
    ++text;
    return true;
}

// Skips the attributes of a start tag, adding their number to `attributes`, and reports how the tag ends: 1 for
// ">", 0 for "/>", -1 for a lexing error.
int SkipStartTagRest(const char*& text, std::size_t& attributes) {
    SkipWhitespace(text);
    while (IsAttributeNameChar(*text)) {
        ++attributes;
        while (IsAttributeNameChar(*text))
            ++text;
        SkipWhitespace(text);
        if (*text != '=') return -1;
        ++text;
        SkipWhitespace(text);
        const char quote = *text;
        if (quote != '\'' && quote != '"') return -1;
        ++text;
        while (*text != quote) {
            if (*text == '\0') return -1;
            ++text;
        }
        ++text;
        SkipWhitespace(text);
    }
    if (*text == '>') {
        ++text;
        return 1;
    }
    if (text[0] == '/' && text[1] == '>') {
        text += 2;
        return 0;
    }
    return -1;
}

// Each node of the promoted tree is visited once; recursion is bounded by the nesting limit checked before.
void Promote(ptree& node) {
    for (auto& [key, child] : node) {
        if (key != kAttributes) Promote(child);
    }
    const auto attributes = node.find(kAttributes);
    if (attributes == node.not_found()) return;
    // Children live in stable list nodes, so appending to `node` leaves the block being walked intact.
    for (const auto& [name, value] : attributes->second)
        node.push_back(ptree::value_type(name, value));
}

// What boost::property_tree::read_xml with default flags makes of a parsed node: elements with an "<xmlattr>"
// block, text and CDATA appended to the parent's data, comments as "<xmlcomment>" children, declarations skipped.
void AppendNode(const rapidxml::xml_node<char>& node, ptree& parent) {
    switch (node.type()) {
        case rapidxml::node_element: {
            ptree& element = parent.push_back(ptree::value_type(node.name(), ptree()))->second;
            if (node.first_attribute() != nullptr) {
                ptree& block = element.push_back(ptree::value_type(kAttributes, ptree()))->second;
                for (auto* attribute = node.first_attribute(); attribute != nullptr;
                     attribute = attribute->next_attribute()) {
                    block.push_back(ptree::value_type(
                        attribute->name(), ptree(std::string(attribute->value(), attribute->value_size()))));
                }
            }
            for (auto* child = node.first_node(); child != nullptr; child = child->next_sibling())
                AppendNode(*child, element);
            break;
        }
        case rapidxml::node_data:
        case rapidxml::node_cdata:
            parent.data().append(node.value(), node.value_size());
            break;
        case rapidxml::node_comment:
            parent.push_back(ptree::value_type(kComment, ptree(std::string(node.value(), node.value_size()))));
            break;
        default:
            break;
    }
}

// The property tree's XML reader without its copy of the text: the same lexer (its bundled rapidxml, keeping
// comments, not trimming white space), run in place over `text`, and the same conversion into the tree.
ptree ParseInPlace(std::string& text) {
    // The document carries its first memory pool inline (64 KiB): too much for a pool thread's stack.
    auto document = std::make_unique<rapidxml::xml_document<char>>();
    document->parse<rapidxml::parse_comment_nodes>(text.data());
    ptree tree;
    for (auto* child = document->first_node(); child != nullptr; child = child->next_sibling())
        AppendNode(*child, tree);
    return tree;
}

}  // namespace

bool IsXmlWithinLimits(const char* text, int nestingLimit, std::size_t nodeLimit) {
    // Mirrors the reader's lexer without building anything. Wherever the reader would fail, scanning stops with
    // "within": the reader never nests deeper or builds more than up to the point where it fails. Text runs are
    // not counted: each lies between two pieces of markup, so they are fewer than the nodes and closing tags.
    int depth = 0;
    std::size_t nodes = 0;
    while (*text != '\0') {
        if (*text != '<') {
            ++text;
            continue;
        }
        if (text[1] == '/') {
            if (depth == 0) return true;
            text += 2;
            while (IsNameChar(*text))
                ++text;
            SkipWhitespace(text);
            if (*text != '>') return true;
            ++text;
            --depth;
            continue;
        }
        ++text;
        if (++nodes > nodeLimit) return false;
        if (*text == '?') {
            ++text;
            if (!SkipPast(text, "?>")) return true;
            continue;
        }
        if (*text == '!') {
            if (!SkipBangNode(text)) return true;
            continue;
        }
        const char* name = text;
        while (IsNameChar(*text))
            ++text;
        if (text == name) return true;
        const int ending = SkipStartTagRest(text, nodes);
        if (nodes > nodeLimit) return false;
        if (ending < 0) return true;
        if (ending == 1 && ++depth > nestingLimit) return false;
    }
    return true;
}

void PromoteAttributes(ptree& node) {
    Promote(node);
}

void ReadXmlManifest(std::istream& stream, ptree& tree) {
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    } catch (...) {
        throw ManifestParseException();
    }
    ReadXmlManifest(std::move(text), tree);
}

void ReadXmlManifest(std::string text, ptree& tree) {
    try {
        if (!IsXmlWithinLimits(text.c_str(), kMaxManifestNesting, kMaxManifestNodes))
            throw ManifestParseException();
        ptree document = ParseInPlace(text);
        // The reader accepts an empty text and several top-level elements; neither is a well-formed document.
        int elements = 0;
        for (const auto& [key, child] : document) {
            if (key != kComment) ++elements;
        }
        if (elements != 1) throw ManifestParseException();
        PromoteAttributes(document);
        tree.swap(document);
    } catch (...) {
        throw ManifestParseException();
    }
}

}  // namespace qelt

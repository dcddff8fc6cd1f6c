#include "manifest/xml_manifest_reader.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <iterator>
#include <sstream>
#include <string>

#include "manifest/manifest_exception.h"

namespace qelt {

namespace {

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

// Skips the attributes of a start tag and reports how the tag ends: 1 for ">", 0 for "/>", -1 for a lexing error.
int SkipStartTagRest(const char*& text) {
    SkipWhitespace(text);
    while (IsAttributeNameChar(*text)) {
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

}  // namespace

bool IsXmlNestingWithin(const char* text, int limit) {
    // Mirrors the reader's lexer without building anything. Wherever the reader would fail, scanning stops with
    // "within": the reader never nests deeper than the point where it fails.
    int depth = 0;
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
        const int ending = SkipStartTagRest(text);
        if (ending < 0) return true;
        if (ending == 1 && ++depth > limit) return false;
    }
    return true;
}

void PromoteAttributes(ptree& node) {
    Promote(node);
}

void ReadXmlManifest(std::istream& stream, ptree& tree) {
    try {
        const std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
        if (!IsXmlNestingWithin(text.c_str(), kMaxManifestNesting)) throw ManifestParseException();
        std::istringstream input(text);
        ptree document;
        boost::property_tree::read_xml(input, document);
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

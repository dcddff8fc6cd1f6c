#include "analytics/json_writer.h"

#include <boost/property_tree/json_parser/error.hpp>
#include <boost/property_tree/ptree.hpp>
#include <ostream>
#include <string_view>

namespace qelt {
namespace {

using boost::property_tree::ptree;
using boost::property_tree::json_parser::json_parser_error;

bool IsRepresentable(const ptree& node) {
    if (!node.data().empty() && !node.empty()) return false;
    for (const auto& child : node)
        if (!IsRepresentable(child.second)) return false;
    return true;
}

void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (byte < 0x20 || byte >= 0x80) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void AppendNode(std::string& out, const ptree& node, bool isRoot) {
    if (!isRoot && node.empty()) {
        const std::string& value = node.data();
        if (value == kJsonEmptyObject) {
            out += "{}";
        } else if (value == kJsonEmptyArray) {
            out += "[]";
        } else {
            AppendEscaped(out, value);
        }
        return;
    }
    bool isArray = true;
    for (const auto& child : node)
        if (!child.first.empty()) isArray = false;
    out += isArray ? '[' : '{';
    bool first = true;
    for (const auto& child : node) {
        if (!first) out += ',';
        first = false;
        if (!isArray) {
            AppendEscaped(out, child.first);
            out += ':';
        }
        AppendNode(out, child.second, false);
    }
    out += isArray ? ']' : '}';
}

}  // namespace

std::string ToJsonText(const ptree& tree) {
    if (!IsRepresentable(tree) || !tree.data().empty())
        throw json_parser_error("ptree contains data that cannot be represented in JSON format", "", 0);
    std::string text;
    AppendNode(text, tree, true);
    text += '\n';
    return text;
}

void WriteJson(std::ostream& out, const ptree& tree) {
    const std::string text = ToJsonText(tree);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.good()) throw json_parser_error("write error", "", 0);
}

}  // namespace qelt

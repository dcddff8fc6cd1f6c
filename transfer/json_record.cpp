#include "transfer/json_record.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <istream>
#include <ostream>
#include <sstream>

#include "manifest/manifest_exception.h"

namespace qelt {
namespace {

// The JSON reader descends once per nested array or object, so a small file of brackets could exhaust the stack
// of the thread reading it. A record is one flat object; a few levels leave room for anything reasonable.
constexpr int kMaxRecordNesting = 8;

bool NestsTooDeeply(const std::string& text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxRecordNesting) return true;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

void WriteJsonRecord(const ptree& tree, std::ostream& out) {
    std::string text;
    try {
        std::ostringstream written;
        boost::property_tree::write_json(written, tree, false);
        text = written.str();
        ptree readBack;
        std::istringstream in(text);
        boost::property_tree::read_json(in, readBack);
        if (readBack != tree) throw ManifestParseException();
    } catch (...) {
        throw ManifestParseException();
    }
    out << text;
}

void ReadJsonRecord(std::istream& in, ptree& tree) {
    try {
        std::ostringstream whole;
        whole << in.rdbuf();
        const std::string text = whole.str();
        if (NestsTooDeeply(text)) throw ManifestParseException();
        std::istringstream stream(text);
        boost::property_tree::read_json(stream, tree);
    } catch (...) {
        tree.clear();
        throw ManifestParseException();
    }
}

}  // namespace qelt

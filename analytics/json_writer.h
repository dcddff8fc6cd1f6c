#pragma once

#include <boost/property_tree/ptree_fwd.hpp>
#include <iosfwd>
#include <string>

namespace qelt {

// Leaf values that stand for an empty object and an empty array, since a property tree node without children is
// otherwise written as a string.
inline constexpr char kJsonEmptyObject[] = "boost::property_tree::json_parser::empty_object";
inline constexpr char kJsonEmptyArray[] = "boost::property_tree::json_parser::empty_array";

// The program's JSON text of a property tree, used for analytics bodies and log lines alike: compact, followed by
// one line feed; every leaf a string (numbers included) except the two markers above; a node whose children all
// have empty keys is an array (so is a root without children), any other node with children an object whose
// members keep their insertion order. Keys and strings are escaped byte by byte: '"', '\\' and '/' get a
// backslash, backspace, form feed, line feed and carriage return their short escapes, every other byte below 0x20
// and every byte from 0x80 up is written as \u00XX (upper-case hex), so UTF-8 text becomes one escape per byte.
//
// Throws boost::property_tree::json_parser_error with the message "ptree contains data that cannot be represented
// in JSON format" when the root has a value or any node has both a value and children, and with "write error"
// when the stream goes bad.
std::string ToJsonText(const boost::property_tree::ptree& tree);
void WriteJson(std::ostream& out, const boost::property_tree::ptree& tree);

}  // namespace qelt

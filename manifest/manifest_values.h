#pragma once

#include <boost/property_tree/ptree.hpp>
#include <istream>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>

#include "manifest/manifest_exception.h"

namespace qelt {

// The property tree's stream conversion of a text to a number: white space around the digits is accepted,
// anything else (including an out-of-range value) fails. Written out here rather than through the tree's
// translator so that callers get a std::optional and compilers see no uninitialised optional storage.
template <typename T>
std::optional<T> ConvertStreamNumber(const std::string& text) {
    std::istringstream stream(text);
    T value{};
    stream >> value;
    if (!stream.eof()) stream >> std::ws;
    if (stream.fail() || stream.bad() || stream.get() != std::istringstream::traits_type::eof())
        return std::nullopt;
    return value;
}

// Reads a required unsigned number with the stream conversion, except that a minus sign is refused: the stream
// would wrap "-1" to the type's maximum, turning a hostile value into a huge size instead of an error. Throws the
// property tree's error for a missing child and ManifestParseException for a value that does not convert.
template <typename T>
T ReadUnsignedValue(const ptree& node, const char* key) {
    static_assert(std::is_unsigned_v<T>);
    const std::string& text = node.get_child(key).data();
    if (text.find('-') != std::string::npos) throw ManifestParseException();
    const std::optional<T> value = ConvertStreamNumber<T>(text);
    if (!value) throw ManifestParseException();
    return *value;
}

}  // namespace qelt

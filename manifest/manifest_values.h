#pragma once

#include <boost/property_tree/ptree.hpp>
#include <string>
#include <type_traits>

#include "manifest/manifest_exception.h"

namespace qelt {

// Reads an unsigned number with the property tree's stream conversion (white space around the digits is
// accepted, anything else fails), except that a minus sign is refused: the stream would wrap "-1" to the type's
// maximum, turning a hostile value into a huge size instead of an error. Throws the property tree's own errors
// or ManifestParseException; callers turn all of them into ManifestParseException.
template <typename T>
T ReadUnsignedValue(const ptree& node, const char* key) {
    static_assert(std::is_unsigned_v<T>);
    const ptree& child = node.get_child(key);
    if (child.data().find('-') != std::string::npos) throw ManifestParseException();
    return child.get_value<T>();
}

}  // namespace qelt

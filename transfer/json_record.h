#pragma once

#include <iosfwd>

#include "manifest/manifest.h"

namespace qelt {

// The text of a record file: JSON as Boost.PropertyTree writes and reads it.
//
// WriteJsonRecord refuses (ManifestParseException, nothing written) a tree whose text would not read back the
// same, such as a value that is not valid UTF-8, so that no record is stored that cannot be restored.
void WriteJsonRecord(const ptree& tree, std::ostream& out);

// Accepts any key order and white space. Malformed text is a ManifestParseException with `tree` left empty, and
// so is text nested more than a few levels deep (the reader recurses once per level).
void ReadJsonRecord(std::istream& in, ptree& tree);

}  // namespace qelt

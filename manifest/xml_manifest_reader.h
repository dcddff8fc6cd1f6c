#pragma once

#include <cstddef>
#include <istream>
#include <string>

#include "manifest/manifest.h"

namespace qelt {

// The deepest element nesting a manifest document may have. Real documents nest four levels; the limit keeps the
// recursive XML reader, the attribute promotion and the tree's destructor within the stack on hostile input.
inline constexpr int kMaxManifestNesting = 64;

// The most markup nodes (elements, attributes, comments, CDATA sections, processing instructions) a manifest
// document may have. Each costs the reader a few hundred bytes however short it is written, so this, not the body
// size, bounds the memory of reading a hostile document. A package of 100,000 files needs half a million.
inline constexpr std::size_t kMaxManifestNodes = 1'000'000;

// Reads an XML manifest document from `stream` into the empty `tree` with the property tree's XML reader and its
// default options (the document element becomes a child of `tree`, text verbatim, comments as "<xmlcomment>",
// attributes in an "<xmlattr>" block), then promotes the attributes. A document that is not well-formed (no
// document element or more than one included), that nests deeper than kMaxManifestNesting, has more than
// kMaxManifestNodes nodes, or any other failure throws ManifestParseException with an empty message; `tree` is
// then left empty.
void ReadXmlManifest(std::istream& stream, ptree& tree);
// The same over a text taken whole, parsed in place without a copy.
void ReadXmlManifest(std::string text, ptree& tree);

// Makes every attribute of every node also a child element of that node, so that a description can read a value
// given either way. Children are handled first, depth first; each attribute is appended after the node's
// existing children, so an element of the same name, being earlier, is the one a lookup by name finds. The
// "<xmlattr>" blocks stay in place.
void PromoteAttributes(ptree& node);

// Whether a NUL-terminated XML text, lexed the way the property tree's XML reader lexes it, stays within
// `nestingLimit` levels of elements and `nodeLimit` markup nodes (as counted for kMaxManifestNodes) up to the
// point where that reader would stop.
bool IsXmlWithinLimits(const char* text, int nestingLimit, std::size_t nodeLimit = kMaxManifestNodes);

}  // namespace qelt

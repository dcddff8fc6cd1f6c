#pragma once

#include <sstream>
#include <string>

#include "manifest/manifest.h"

namespace qelt {

// Obtains the bytes of one document and turns them into a property tree. A source lives for one load.
class ManifestSource {
public:
    virtual ~ManifestSource() = default;

    // Writes the bytes of the document for `key` into `stream`; throws on failure.
    virtual void Read(const std::string& key, std::stringstream& stream) = 0;
    // Reads the whole `stream` into the empty `tree`; throws on failure.
    virtual void Parse(std::stringstream& stream, ptree& tree) = 0;

    // Read, Parse, then manifest.Deserialize on the tree. Exceptions of every step pass through unchanged; after
    // one, `manifest` must be discarded.
    void Load(const std::string& key, InputManifest& manifest);
};

}  // namespace qelt

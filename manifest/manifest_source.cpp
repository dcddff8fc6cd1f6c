#include "manifest/manifest_source.h"

#include <boost/property_tree/ptree.hpp>

namespace qelt {

void ManifestSource::Load(const std::string& key, InputManifest& manifest) {
    std::stringstream stream;
    Read(key, stream);
    ptree tree;
    Parse(stream, tree);
    manifest.Deserialize(tree);
}

}  // namespace qelt

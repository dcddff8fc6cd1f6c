#include "manifest/node_list_manifest.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/manifest_exception.h"
#include "manifest/node_manifest.h"

namespace qelt {

void StandardNodeListManifest::Deserialize(const ptree& node) {
    try {
        nodes_.clear();
        for (const auto& [key, child] : node.get_child("ArrayOfNodeInfo")) {
            if (key == "NodeInfo") nodes_.push_back(std::make_shared<StandardNodeManifest>(child));
        }
    } catch (...) {
        throw ManifestParseException();
    }
    if (nodes_.empty()) throw ManifestParseException();
}

}  // namespace qelt

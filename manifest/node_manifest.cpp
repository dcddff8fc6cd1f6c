#include "manifest/node_manifest.h"

#include <boost/property_tree/ptree.hpp>
#include <stdexcept>

#include "manifest/manifest_exception.h"
#include "manifest/manifest_values.h"
#include "selection/node_statistics.h"

namespace qelt {

StandardNodeManifest::StandardNodeManifest(const ptree& node) : statistics_(std::make_shared<NodeStatistics>()) {
    Deserialize(node);
}

StandardNodeManifest::StandardNodeManifest(const StandardNodeManifest& other,
                                           std::shared_ptr<NodeStatistics> statistics)
    : NodeManifest(),
      nodeId_(other.nodeId_),
      host_(other.host_),
      path_(other.path_),
      weight_(other.weight_),
      statistics_(std::move(statistics)) {}

void StandardNodeManifest::Deserialize(const ptree& node) {
    try {
        Read(node);
    } catch (...) {
        throw ManifestParseException();
    }
    if (nodeId_.empty() || host_.empty()) throw ManifestParseException();
}

void StandardNodeManifest::Read(const ptree& node) {
    nodeId_ = node.get<std::string>("NodeId");
    host_ = node.get<std::string>("Host");
    path_ = node.get<std::string>("Path", "/packages/");
    // A weight that does not convert is no reason to lose the node: it gets the default.
    const auto weight = node.get_child_optional("Weight");
    weight_ = weight ? ConvertStreamNumber<std::int32_t>(weight->data()).value_or(1) : 1;
    if (path_.empty() || path_.front() != '/') path_.insert(path_.begin(), '/');
    // The trailing "/" makes the chunk URL's segments append to the base path instead of replacing its last one.
    if (path_.back() != '/') path_.push_back('/');
}

void StandardNodeManifest::Serialize(ptree& tree) const {
    tree.put("Node", host_);
    tree.put("Path", path_);
    tree.put("Weight", weight_);
    statistics_->Serialize(tree);
}

std::shared_ptr<NodeManifest> StandardNodeManifest::CloneWithStatistics(
    std::shared_ptr<NodeStatistics> statistics) const {
    if (!statistics) {
        throw std::invalid_argument("StandardNodeManifest::CloneWithStatistics called with null statistics");
    }
    return std::make_shared<StandardNodeManifest>(*this, std::move(statistics));
}

}  // namespace qelt

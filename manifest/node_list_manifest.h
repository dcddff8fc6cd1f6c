#pragma once

#include <memory>
#include <vector>

#include "manifest/manifest.h"

namespace qelt {

class NodeManifest;

using NodeManifestList = std::vector<std::shared_ptr<NodeManifest>>;

// The download nodes of one partner, in document order. Immutable once read.
class NodeListManifest : public InputManifest {
public:
    virtual const NodeManifestList& GetNodes() const = 0;
};

// A node list read from an `ArrayOfNodeInfo` element; children other than `NodeInfo` are skipped. A valid list
// has at least one node. Empty until Deserialize succeeds; discarded after a failed one.
class StandardNodeListManifest : public NodeListManifest {
public:
    StandardNodeListManifest() = default;
    StandardNodeListManifest(const StandardNodeListManifest&) = delete;
    StandardNodeListManifest& operator=(const StandardNodeListManifest&) = delete;

    // Every fault is a ManifestParseException.
    void Deserialize(const ptree& node) override;
    const NodeManifestList& GetNodes() const override { return nodes_; }

private:
    NodeManifestList nodes_;
};

}  // namespace qelt

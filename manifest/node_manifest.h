#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "manifest/manifest.h"

namespace qelt {

class NodeStatistics;

// A download node: a plain HTTP server holding the published packages. The identity fields are immutable once
// read; the statistics object it points to is updated by the chunk works from any thread (its own locking).
// Always held in a shared pointer.
class NodeManifest : public InputManifest,
                     public OutputManifest,
                     public std::enable_shared_from_this<NodeManifest> {
public:
    virtual const std::string& GetNodeId() const = 0;
    // A host name or address, optionally followed by a colon and a port: the authority of the node's URLs.
    virtual const std::string& GetHost() const = 0;
    // The base path of chunk URLs; always begins and ends with "/".
    virtual const std::string& GetPath() const = 0;
    virtual std::int32_t GetWeight() const = 0;
    virtual std::shared_ptr<NodeStatistics> GetStatistics() const = 0;
    // A new node with this node's identifier, host, path and weight that reports into `statistics`.
    virtual std::shared_ptr<NodeManifest> CloneWithStatistics(
        std::shared_ptr<NodeStatistics> statistics) const = 0;
};

// A node read from a `NodeInfo` element ("NodeId", "Host", optional "Path" and "Weight"). Every node read owns a
// fresh, plain NodeStatistics; clones share the statistics object they were given.
class StandardNodeManifest : public NodeManifest {
public:
    // Reads `node`; any fault is a ManifestParseException.
    explicit StandardNodeManifest(const ptree& node);
    StandardNodeManifest(const StandardNodeManifest& other, std::shared_ptr<NodeStatistics> statistics);
    StandardNodeManifest(const StandardNodeManifest&) = delete;
    StandardNodeManifest& operator=(const StandardNodeManifest&) = delete;

    void Deserialize(const ptree& node) override;
    // Writes "Node" (the host), "Path", "Weight", then the statistics' own fields; not the identifier.
    void Serialize(ptree& tree) const override;

    const std::string& GetNodeId() const override { return nodeId_; }
    const std::string& GetHost() const override { return host_; }
    const std::string& GetPath() const override { return path_; }
    std::int32_t GetWeight() const override { return weight_; }
    std::shared_ptr<NodeStatistics> GetStatistics() const override { return statistics_; }
    std::shared_ptr<NodeManifest> CloneWithStatistics(std::shared_ptr<NodeStatistics> statistics) const override;

private:
    void Read(const ptree& node);

    std::string nodeId_;
    std::string host_;
    std::string path_ = "/packages/";
    std::int32_t weight_ = 1;
    std::shared_ptr<NodeStatistics> statistics_;
};

}  // namespace qelt

#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transfer/transfer_params.h"

namespace qelt {

class HttpWriteCallback;
class NodeListManifest;
class NodeManifest;
class TransferSharedMapData;
struct HttpRequestParams;

// The parameters of one chunk request, shared by the chunk request work and the optimizer: the nodes still to
// try, the chunk, and the node and limits the optimizer chose for the next attempt. Owned by one work and touched
// by one thread at a time.
struct OptimizedRequestParams {
    // Copies the node list's nodes into candidates, in list order.
    OptimizedRequestParams(std::shared_ptr<NodeListManifest> nodeList, TransferParams params,
                           std::shared_ptr<TransferSharedMapData> chunkData);

    // http://<host><path>, then partnerId/, packageId/, versionId/ and the file path (leading "/" removed)
    // resolved against it one after another. Throws std::invalid_argument without a node or chunk.
    std::string ToUrl() const;
    // A GET of the chunk's byte range from ToUrl() with the chosen limits.
    HttpRequestParams ToHttpRequestParams(HttpWriteCallback* writer) const;
    // Removes SelectedNode from the candidates, refilling them with every node when none is left.
    void ExcludeSelectedNode();

    std::shared_ptr<NodeListManifest> nodeList;
    std::vector<std::shared_ptr<NodeManifest>> candidates;
    TransferParams params;
    std::shared_ptr<TransferSharedMapData> ChunkData;
    std::shared_ptr<NodeManifest> SelectedNode;
    bool freeRetry = false;
    bool timeoutsCanGrow = false;
    bool exploring = false;
    std::int32_t connectTimeout = 0;  // seconds
    std::int32_t timeout = 0;         // seconds
    std::int32_t lowSpeedLimit = 0;   // bytes per second
    std::int32_t lowSpeedTime = 0;    // seconds
};

}  // namespace qelt

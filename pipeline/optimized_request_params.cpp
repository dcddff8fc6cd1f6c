#include "pipeline/optimized_request_params.h"

#include <Poco/URI.h>

#include <algorithm>
#include <stdexcept>

#include "http/http_request.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "pipeline/status_data.h"

namespace qelt {
namespace {

// The ids and the file path are names, not URI references: a "%", "?" or "#" in them, or a ":" in their first
// segment, would otherwise be read as an escape, a query, a fragment or a scheme (and a stray "%" makes the parser
// throw). Encoding those keeps every name a plain path; "/" still separates segments and "." segments still
// collapse.
std::string PathReference(const std::string& name) {
    std::string encoded;
    Poco::URI::encode(name, "?#:", encoded);
    return encoded;
}

}  // namespace

OptimizedRequestParams::OptimizedRequestParams(std::shared_ptr<NodeListManifest> nodeList, TransferParams params,
                                               std::shared_ptr<TransferSharedMapData> chunkData)
    : nodeList(std::move(nodeList)), params(std::move(params)), ChunkData(std::move(chunkData)) {
    if (this->nodeList) candidates.assign(this->nodeList->GetNodes().begin(), this->nodeList->GetNodes().end());
}

std::string OptimizedRequestParams::ToUrl() const {
    if (!SelectedNode || !ChunkData) {
        throw std::invalid_argument("OptimizedRequestParams::ToUrl invoked with no SelectedNode or no ChunkData");
    }
    Poco::URI uri("http", SelectedNode->GetHost(), SelectedNode->GetPath());
    uri.resolve(PathReference(params.partnerId) + "/");
    uri.resolve(PathReference(params.packageId) + "/");
    uri.resolve(PathReference(params.versionId) + "/");
    const std::string& filePath = ChunkData->fileData->filePath;
    uri.resolve(PathReference(filePath.substr(std::min(filePath.find_first_not_of('/'), filePath.size()))));
    return uri.toString();
}

HttpRequestParams OptimizedRequestParams::ToHttpRequestParams(HttpWriteCallback* writer) const {
    HttpRequestParams http(ToUrl(), writer);
    http.RangeStart = ChunkData->lowerBound;
    http.RangeEnd = ChunkData->upperBound;
    http.ConnectTimeout = connectTimeout;
    http.Timeout = timeout;
    http.LowSpeedLimit = lowSpeedLimit;
    http.LowSpeedTime = lowSpeedTime;
    return http;
}

void OptimizedRequestParams::ExcludeSelectedNode() {
    candidates.erase(std::remove(candidates.begin(), candidates.end(), SelectedNode), candidates.end());
    if (candidates.empty() && nodeList) {
        candidates.assign(nodeList->GetNodes().begin(), nodeList->GetNodes().end());
    }
}

}  // namespace qelt

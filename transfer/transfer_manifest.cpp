#include "transfer/transfer_manifest.h"

#include <boost/property_tree/ptree.hpp>

#include "manifest/manifest_exception.h"

namespace qelt {
namespace {

// A value given as an object or array is not a string.
std::string ReadString(const ptree& node, const char* key) {
    const auto found = node.find(key);
    if (found == node.not_found() || !found->second.empty()) throw ManifestParseException();
    return found->second.data();
}

}  // namespace

void TransferManifest::Serialize(ptree& node) const {
    try {
        params.Describe(node);
    } catch (...) {
        throw ManifestParseException();
    }
}

void TransferManifest::Deserialize(const ptree& node) {
    try {
        params = TransferParams();
        params.transferId = ReadString(node, "transferId");
        params.partnerId = ReadString(node, "partnerId");
        params.packageId = ReadString(node, "packageId");
        params.versionId = ReadString(node, "versionId");
        params.destPath = ReadString(node, "destPath");
    } catch (...) {
        throw ManifestParseException();
    }
}

}  // namespace qelt

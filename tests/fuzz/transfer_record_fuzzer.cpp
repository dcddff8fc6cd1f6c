// Feeds arbitrary bytes through the reading of a stored transfer record: JSON text to tree, then the five required
// keys. A failure must be the manifest parse error; anything else that escapes, a crash, or an accepted record
// that does not survive being written and read again unchanged is a finding.
#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "manifest/manifest_exception.h"
#include "transfer/json_record.h"
#include "transfer/transfer_manifest.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool SameParams(const qelt::TransferParams& a, const qelt::TransferParams& b) {
    return a.transferId == b.transferId && a.partnerId == b.partnerId && a.packageId == b.packageId &&
           a.versionId == b.versionId && a.destPath == b.destPath && !a.suspended && !b.suspended;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    boost::property_tree::ptree tree;
    try {
        qelt::ReadJsonRecord(stream, tree);
    } catch (const qelt::ManifestParseException&) {
        Check(tree.empty());
        return 0;
    }
    qelt::TransferManifest record;
    try {
        record.Deserialize(tree);
    } catch (const qelt::ManifestParseException&) {
        return 0;
    }
    // What was read must be written again as it was read.
    boost::property_tree::ptree written;
    record.Serialize(written);
    std::stringstream text;
    qelt::WriteJsonRecord(written, text);
    boost::property_tree::ptree again;
    qelt::ReadJsonRecord(text, again);
    qelt::TransferManifest reread;
    reread.Deserialize(again);
    Check(SameParams(record.params, reread.params));
    return 0;
}

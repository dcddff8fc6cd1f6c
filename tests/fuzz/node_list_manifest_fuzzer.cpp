// Feeds arbitrary bytes through the node list reading of the engine. A parse failure must be the manifest parse
// error; anything else that escapes, a crash, or an accepted list that breaks the node invariants is a finding.
#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "manifest/manifest_exception.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "manifest/xml_manifest_reader.h"
#include "selection/node_statistics.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    boost::property_tree::ptree tree;
    try {
        qelt::ReadXmlManifest(stream, tree);
    } catch (const qelt::ManifestParseException&) {
        Check(tree.empty());
        return 0;
    }
    qelt::StandardNodeListManifest list;
    try {
        list.Deserialize(tree);
    } catch (const qelt::ManifestParseException&) {
        return 0;
    }
    Check(!list.GetNodes().empty());
    for (const auto& node : list.GetNodes()) {
        Check(!node->GetNodeId().empty() && !node->GetHost().empty());
        const std::string& path = node->GetPath();
        Check(!path.empty() && path.front() == '/' && path.back() == '/');
        Check(node->GetStatistics() != nullptr && node->GetStatistics()->Bytes().Get() == 0);
        boost::property_tree::ptree out;
        node->Serialize(out);
        Check(out.get<std::string>("Node") == node->GetHost() && !out.get_child_optional("NodeId"));
    }
    return 0;
}

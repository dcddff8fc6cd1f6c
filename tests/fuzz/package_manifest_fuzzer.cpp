// Feeds arbitrary bytes through the package manifest reading of the engine: XML text to tree, attribute
// promotion, package and file validation. A parse failure must be the manifest parse error; anything else that
// escapes, a crash, or an accepted package that breaks the description's invariants is a finding.
#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"
#include "manifest/package_manifest.h"
#include "manifest/xml_manifest_reader.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckPackage(const qelt::StandardPackageManifest& package) {
    Check(!package.GetId().empty() && !package.GetName().empty());
    Check(!package.GetPartnerId().empty() && !package.GetVersionId().empty());
    Check(package.GetRunFiles().size() + package.GetOtherFiles().size() == package.GetFiles().size());
    Check(package.GetRun().empty() ? package.GetRunFile() == nullptr : package.GetRunFile() != nullptr);
    std::uint64_t total = 0;
    for (const auto& file : package.GetFiles()) {
        Check(qelt::IsSafeRelativePath(file->GetPath()));
        Check(file->GetChunkSize() > 0 && file->GetSize() > 0);
        const std::uint32_t count = qelt::ChunkCount(file->GetChunkSize(), file->GetSize());
        Check(file->GetChecksums().size() == count);
        const qelt::ChunkRange last = qelt::GetChunkRange(file->GetChunkSize(), file->GetSize(), count - 1);
        Check(last.upperBound == file->GetSize() - 1 && last.lowerBound <= last.upperBound);
        total += file->GetSize();
    }
    Check(package.GetTotalSize() == total);
    for (const auto& file : package.GetRunFiles())
        Check(file->GetPath() == package.GetRun());
    for (const auto& file : package.GetOtherFiles())
        Check(file->GetPath() != package.GetRun());
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
    qelt::StandardPackageManifest package;
    try {
        package.Deserialize(tree);
    } catch (const qelt::ManifestParseException&) {
        return 0;
    }
    CheckPackage(package);
    return 0;
}

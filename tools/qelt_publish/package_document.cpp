#include "tools/qelt_publish/package_document.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include "manifest/crc32.h"
#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "manifest/package_manifest.h"
#include "manifest/xml_manifest_reader.h"
#include "tools/qelt_publish/publish_error.h"

namespace qelt::publish {
namespace {

void Element(std::string& out, const char* indent, const char* name, std::string_view text) {
    out += indent;
    out += '<';
    out += name;
    out += '>';
    out += EscapeXml(text);
    out += "</";
    out += name;
    out += ">\n";
}

ptree ReadTree(const std::string& text) {
    std::istringstream stream(text);
    ptree tree;
    ReadXmlManifest(stream, tree);
    return tree;
}

[[noreturn]] void Mismatch(const std::string& document, const std::string& what) {
    throw PublishError("The " + document + " written does not read back as written (" + what +
                       "); nothing was published.");
}

}  // namespace

std::string EscapeXml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string WritePackageDocument(const PackageDescription& package) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<package>\n";
    Element(out, "  ", "id", package.id);
    Element(out, "  ", "name", package.name);
    Element(out, "  ", "partnerId", package.partnerId);
    Element(out, "  ", "versionId", package.versionId);
    if (!package.run.empty()) Element(out, "  ", "run", package.run);
    out += "  <files>\n";
    for (const PublishedFile& file : package.files) {
        out += "    <file>\n";
        Element(out, "      ", "path", file.path);
        Element(out, "      ", "chunksize", std::to_string(file.chunkSize));
        Element(out, "      ", "size", std::to_string(file.size));
        Element(out, "      ", "checksums", FormatChecksums(file.checksums));
        out += "    </file>\n";
    }
    out += "  </files>\n</package>\n";
    return out;
}

std::string WriteNodeListDocument(const std::vector<NodeAddress>& nodes) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfNodeInfo>\n";
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        out += "  <NodeInfo>\n";
        Element(out, "    ", "NodeId", std::to_string(i + 1));
        Element(out, "    ", "Host", nodes[i].host);
        Element(out, "    ", "Path", nodes[i].path);
        out += "  </NodeInfo>\n";
    }
    out += "</ArrayOfNodeInfo>\n";
    return out;
}

std::shared_ptr<StandardPackageManifest> ReadPackageDocument(const std::string& text) {
    auto package = std::make_shared<StandardPackageManifest>();
    package->Deserialize(ReadTree(text));
    return package;
}

std::shared_ptr<StandardNodeListManifest> ReadNodeListDocument(const std::string& text) {
    auto list = std::make_shared<StandardNodeListManifest>();
    list->Deserialize(ReadTree(text));
    return list;
}

std::optional<std::string> PackageDifference(const std::string& text, const PackageDescription& package) {
    std::shared_ptr<StandardPackageManifest> read;
    try {
        read = ReadPackageDocument(text);
    } catch (const ManifestException&) {
        return "the engine's reader refuses it";
    }
    if (read->GetId() != package.id || read->GetPartnerId() != package.partnerId ||
        read->GetVersionId() != package.versionId) {
        return "the ids differ";
    }
    if (read->GetName() != package.name) return "the name differs";
    if (read->GetRun() != package.run) return "the run path differs";
    if (!package.run.empty() && !read->GetRunFile()) return "the run path names no file";
    const auto& files = read->GetFiles();
    for (std::size_t i = 0; i < std::max(files.size(), package.files.size()); ++i) {
        if (i >= files.size()) return "file \"" + package.files[i].path + "\" is new";
        if (i >= package.files.size() || files[i]->GetPath() != package.files[i].path) {
            return "file \"" + files[i]->GetPath() + "\" is not among these files";
        }
        const PublishedFile& expected = package.files[i];
        if (files[i]->GetSize() != expected.size || files[i]->GetChecksums() != expected.checksums) {
            return "file \"" + expected.path + "\" differs";
        }
        if (files[i]->GetChunkSize() != expected.chunkSize) return "the chunk size differs";
    }
    return std::nullopt;
}

void VerifyPackageDocument(const std::string& text, const PackageDescription& package) {
    if (const auto difference = PackageDifference(text, package)) Mismatch("package manifest", *difference);
}

void VerifyNodeListDocument(const std::string& text, const std::vector<NodeAddress>& nodes) {
    const char* kDocument = "node list";
    std::shared_ptr<StandardNodeListManifest> read;
    try {
        read = ReadNodeListDocument(text);
    } catch (const ManifestException&) {
        Mismatch(kDocument, "the engine's reader refuses it");
    }
    const auto& readNodes = read->GetNodes();
    if (readNodes.size() != nodes.size()) Mismatch(kDocument, "the number of nodes differs");
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (readNodes[i]->GetHost() != nodes[i].host || readNodes[i]->GetPath() != nodes[i].path) {
            Mismatch(kDocument, "node \"" + nodes[i].host + nodes[i].path + "\" differs");
        }
    }
}

}  // namespace qelt::publish

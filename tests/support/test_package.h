#pragma once

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "manifest/crc32.h"
#include "manifest/file_manifest.h"
#include "manifest/node_list_manifest.h"
#include "manifest/package_manifest.h"
#include "manifest/xml_manifest_reader.h"
#include "tests/support/test_http_server.h"

namespace qelt::test {

// A package of one partner as the manifest host and the mirrors publish it, for the tests that run transfers
// against loopback servers.
inline const char kPartner[] = "partner";
inline const char kPackage[] = "pkg";
inline const char kVersion[] = "v1";

struct PackageFile {
    std::string path;
    std::string content;
    std::uint32_t chunkSize = 16384;

    ChunkRange Chunk(std::uint32_t index) const { return GetChunkRange(chunkSize, content.size(), index); }
    std::uint32_t Chunks() const { return ChunkCount(chunkSize, content.size()); }
};

inline std::string PackageXml(const std::vector<PackageFile>& files, const std::string& run = "",
                              const std::string& versionId = kVersion) {
    std::string xml = std::string("<package><id>") + kPackage + "</id><name>Test</name><partnerId>" + kPartner +
                      "</partnerId><versionId>" + versionId + "</versionId>";
    if (!run.empty()) xml += "<run>" + run + "</run>";
    xml += "<files>";
    for (const auto& file : files) {
        std::vector<std::uint32_t> checksums;
        for (std::uint32_t i = 0; i < file.Chunks(); ++i) {
            const ChunkRange range = file.Chunk(i);
            checksums.push_back(
                Crc32(file.content.data() + range.lowerBound, range.upperBound - range.lowerBound + 1));
        }
        xml += "<file><path>" + file.path + "</path><chunksize>" + std::to_string(file.chunkSize) +
               "</chunksize><size>" + std::to_string(file.content.size()) + "</size><checksums>" +
               FormatChecksums(checksums) + "</checksums></file>";
    }
    return xml + "</files></package>";
}

inline std::string NodeListXml(const std::vector<std::string>& hosts) {
    std::string xml = "<ArrayOfNodeInfo>";
    for (std::size_t i = 0; i < hosts.size(); ++i)
        xml += "<NodeInfo><NodeId>" + std::to_string(i + 1) + "</NodeId><Host>" + hosts[i] + "</Host></NodeInfo>";
    return xml + "</ArrayOfNodeInfo>";
}

inline std::shared_ptr<NodeListManifest> ReadNodeListXml(const std::string& xml) {
    ptree tree;
    ReadXmlManifest(xml, tree);
    auto nodes = std::make_shared<StandardNodeListManifest>();
    nodes->Deserialize(tree);
    return nodes;
}

inline std::shared_ptr<NodeListManifest> ReadNodeList(const std::vector<std::string>& hosts) {
    return ReadNodeListXml(NodeListXml(hosts));
}

// A node list of these (id, host) pairs, for tests that name their nodes.
inline std::shared_ptr<NodeListManifest> NodeListOf(
    const std::vector<std::pair<std::string, std::string>>& idAndHost) {
    std::string xml = "<ArrayOfNodeInfo>";
    for (const auto& [id, host] : idAndHost)
        xml += "<NodeInfo><NodeId>" + id + "</NodeId><Host>" + host + "</Host></NodeInfo>";
    return ReadNodeListXml(xml + "</ArrayOfNodeInfo>");
}

inline std::shared_ptr<PackageManifest> ReadPackage(const std::vector<PackageFile>& files,
                                                    const std::string& run = "") {
    std::istringstream xml(PackageXml(files, run));
    ptree tree;
    ReadXmlManifest(xml, tree);
    auto package = std::make_shared<StandardPackageManifest>();
    package->Deserialize(tree);
    return package;
}

inline std::string FilePath(const std::string& path) {
    return std::string("/packages/") + kPartner + "/" + kPackage + "/" + kVersion + "/" + path;
}

inline std::string HostOf(const TestHttpServer& server) {
    return "127.0.0.1:" + std::to_string(server.Port());
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Serves every file on each of the first `count` mirrors, starting servers until there are that many; returns
// the hosts of all the mirrors, for the node list.
inline std::vector<std::string> ServeOnMirrors(std::vector<std::unique_ptr<TestHttpServer>>& mirrors,
                                               const std::vector<PackageFile>& files, std::size_t count) {
    while (mirrors.size() < count)
        mirrors.push_back(std::make_unique<TestHttpServer>());
    std::vector<std::string> hosts;
    for (const auto& mirror : mirrors) {
        hosts.push_back(HostOf(*mirror));
        for (const auto& file : files)
            mirror->AddFile(FilePath(file.path), file.content);
    }
    return hosts;
}

inline std::uint64_t SizeOf(const std::vector<PackageFile>& files) {
    std::uint64_t total = 0;
    for (const auto& file : files)
        total += file.content.size();
    return total;
}

inline void ExpectFilesIn(const std::filesystem::path& folder, const std::vector<PackageFile>& files) {
    for (const auto& file : files)
        EXPECT_TRUE(ReadWholeFile(folder / file.path) == file.content) << file.path << " differs from the source";
}

// The chunk requests the mirrors received (manifest requests excluded).
inline std::size_t CountChunkRequests(const std::vector<std::unique_ptr<TestHttpServer>>& mirrors) {
    std::size_t count = 0;
    for (const auto& mirror : mirrors) {
        for (const auto& request : mirror->Requests())
            count += request.path.rfind("/packages/", 0) == 0 ? 1 : 0;
    }
    return count;
}

}  // namespace qelt::test

#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <sstream>
#include <string>

#include "manifest/xml_manifest_reader.h"

namespace qelt::test {

// A `file` element with every value as a child element.
inline std::string FileElement(const std::string& path, const std::string& chunkSize, const std::string& size,
                               const std::string& checksums) {
    return "<file><path>" + path + "</path><chunksize>" + chunkSize + "</chunksize><size>" + size +
           "</size><checksums>" + checksums + "</checksums></file>";
}

// A package document around `files` (the inner XML of the files element).
inline std::string PackageDocument(const std::string& files, const std::string& run = "",
                                   const std::string& versionId = "v1") {
    return "<package><id>pkg</id><name>Package</name><partnerId>partner</partnerId><versionId>" + versionId +
           "</versionId>" + (run.empty() ? "" : "<run>" + run + "</run>") + "<files>" + files +
           "</files></package>";
}

inline ptree ReadXml(const std::string& xml) {
    std::istringstream stream(xml);
    ptree tree;
    ReadXmlManifest(stream, tree);
    return tree;
}

// `count` checksum groups, each distinct, as manifest text.
inline std::string Checksums(std::uint32_t count) {
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        char group[9];
        std::snprintf(group, sizeof group, "%08x", 0x10000000u + i);
        text += group;
    }
    return text;
}

}  // namespace qelt::test

#include "tools/qelt_publish/metalink_document.h"

namespace qelt::publish {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Every byte but the unreserved ones and the "/" separators as %XX.
std::string EncodePath(const std::string& path) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte) || c == '/') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 0xF];
        }
    }
    return encoded;
}

}  // namespace

std::string FileUrl(const NodeAddress& node, const PackageDescription& package, const std::string& filePath) {
    // The node path was checked to need no encoding; the ids cannot need any.
    return "http://" + node.host + node.path + package.partnerId + "/" + package.id + "/" + package.versionId +
           "/" + EncodePath(filePath);
}

std::string WriteMetalinkDocument(const PackageDescription& package, const std::vector<MetalinkFile>& files,
                                  const std::vector<NodeAddress>& nodes) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<metalink xmlns=\"urn:ietf:params:xml:ns:metalink\">\n"
        "  <generator>qelt-publish</generator>\n";
    for (const MetalinkFile& entry : files) {
        const PublishedFile& file = *entry.file;
        out += "  <file name=\"" + EscapeXml(file.path) + "\">\n";
        out += "    <identity>" + EscapeXml(package.name) + "</identity>\n";
        out += "    <version>" + EscapeXml(package.versionId) + "</version>\n";
        out += "    <size>" + std::to_string(file.size) + "</size>\n";
        out += "    <pieces length=\"" + std::to_string(file.chunkSize) + "\" type=\"sha-256\">\n";
        for (const Sha256Digest& piece : entry.pieces)
            out += "      <hash>" + ToHex(piece) + "</hash>\n";
        out += "    </pieces>\n";
        for (const NodeAddress& node : nodes)
            out += "    <url>" + EscapeXml(FileUrl(node, package, file.path)) + "</url>\n";
        out += "  </file>\n";
    }
    out += "</metalink>\n";
    return out;
}

}  // namespace qelt::publish

#include "bench/e2e/sha1_metalink.h"

#include <openssl/evp.h>

#include <fstream>
#include <stdexcept>

namespace qelt::bench {
namespace {

std::string Sha1Hex(const char* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha1(), nullptr) != 1)
        throw std::runtime_error("SHA-1 failed");
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return hex;
}

}  // namespace

void WriteSha1Metalink(const std::filesystem::path& path, const std::vector<MetalinkEntry>& files,
                       std::uint64_t pieceLength) {
    // Names and URLs are the benchmark's own: letters, digits, '/', ':', '.', '-'; nothing to escape.
    std::ofstream out(path, std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<metalink xmlns=\"urn:ietf:params:xml:ns:metalink\">\n";
    std::vector<char> piece(pieceLength);
    for (const auto& file : files) {
        std::ifstream in(file.source, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + file.source.string());
        out << "  <file name=\"" << file.name << "\">\n    <size>" << std::filesystem::file_size(file.source)
            << "</size>\n    <pieces length=\"" << pieceLength << "\" type=\"sha-1\">\n";
        while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
            out << "      <hash>" << Sha1Hex(piece.data(), static_cast<std::size_t>(in.gcount())) << "</hash>\n";
        out << "    </pieces>\n";
        for (const auto& url : file.urls)
            out << "    <url>" << url << "</url>\n";
        out << "  </file>\n";
    }
    out << "</metalink>\n";
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace qelt::bench

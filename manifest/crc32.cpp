#include "manifest/crc32.h"

#include <libdeflate.h>

namespace qelt {

std::uint32_t Crc32(const void* data, std::size_t length) {
    return Crc32Update(0, data, length);
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length) {
    // libdeflate_crc32 takes the previous result (0 to start) and handles the pre- and post-inversion itself.
    return libdeflate_crc32(crc, data, length);
}

std::string FormatChecksum(std::uint32_t checksum) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[checksum & 0xFu];
        checksum >>= 4;
    }
    return text;
}

std::string FormatChecksums(const std::vector<std::uint32_t>& checksums) {
    std::string text;
    text.reserve(checksums.size() * 8);
    for (std::uint32_t checksum : checksums)
        text += FormatChecksum(checksum);
    return text;
}

}  // namespace qelt

#include "manifest/crc32.h"

#include <libdeflate.h>

namespace qelt {
namespace {

// The reflected polynomial: bit 31 stands for x^0, bit 0 for x^31.
constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::uint32_t kOne = 0x80000000u;

// a(x) * b(x) modulo the polynomial, both in the reflected form.
constexpr std::uint32_t MultiplyModulo(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t bit = kOne; bit != 0 && a != 0; bit >>= 1) {
        if (a & bit) {
            product ^= b;
            a ^= bit;
        }
        b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

}  // namespace

std::uint32_t Crc32(const void* data, std::size_t length) {
    return Crc32Update(0, data, length);
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length) {
    // libdeflate_crc32 takes the previous result (0 to start) and handles the pre- and post-inversion itself.
    return libdeflate_crc32(crc, data, length);
}

std::uint32_t Crc32OfZeros(std::uint64_t length) {
    // A zero byte multiplies the running remainder by x^8, so n of them multiply it by x^(8n): built here from
    // the squares x^8, x^16, x^32, ... picked by the bits of n. The remainder starts and ends inverted.
    std::uint32_t power = kOne >> 8;  // x^8
    std::uint32_t remainder = 0xFFFFFFFFu;
    for (; length != 0; length >>= 1) {
        if (length & 1u) remainder = MultiplyModulo(power, remainder);
        power = MultiplyModulo(power, power);
    }
    return ~remainder;
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

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qelt {

// The standard CRC-32 (IEEE 802.3, zlib: reflected polynomial 0x04C11DB7, initial value and final XOR
// 0xFFFFFFFF). Chunk verification and manifest writers both go through here, so every checksum in the program
// is computed the same way. Safe to call from any thread.
std::uint32_t Crc32(const void* data, std::size_t length);

// Continues a CRC-32 over more bytes: Crc32Update(Crc32(a), b) == Crc32(a + b). Crc32Update(0, ...) == Crc32(...).
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length);

// The CRC-32 of `length` zero bytes, worked out without any bytes to read: a range known to hold only zeros is
// judged by this, in a few hundred operations whatever its length.
std::uint32_t Crc32OfZeros(std::uint64_t length);

inline std::uint32_t Crc32(std::string_view bytes) {
    return Crc32(bytes.data(), bytes.size());
}

// The text form of one chunk checksum in a package manifest: exactly 8 lower-case hexadecimal digits, most
// significant first.
std::string FormatChecksum(std::uint32_t checksum);

// The "checksums" text of a file: the 8-digit forms of all chunks concatenated, chunk 0 first.
std::string FormatChecksums(const std::vector<std::uint32_t>& checksums);

}  // namespace qelt

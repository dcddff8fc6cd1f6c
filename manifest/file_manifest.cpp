#include "manifest/file_manifest.h"

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "manifest/manifest_exception.h"
#include "manifest/manifest_values.h"

namespace qelt {

namespace {

constexpr std::size_t kChecksumDigits = 8;

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A group that is not exactly 8 hexadecimal digits would never verify any chunk, so the whole document is
// refused instead of failing every download of that chunk later.
std::uint32_t ParseChecksumGroup(std::string_view group) {
    std::uint32_t value = 0;
    for (char c : group) {
        int digit = HexDigitValue(c);
        if (digit < 0) throw ManifestParseException();
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

}  // namespace

std::uint32_t ChunkCount(std::uint32_t chunkSize, std::uint64_t size) {
    if (chunkSize == 0) return 0;
    const std::uint64_t extra = chunkSize - 1;
    if (size > std::numeric_limits<std::uint64_t>::max() - extra) throw ManifestOverflowException();
    const std::uint64_t count = (size + extra) / chunkSize;
    if (count > std::numeric_limits<std::uint32_t>::max()) throw ManifestOverflowException();
    return static_cast<std::uint32_t>(count);
}

ChunkRange GetChunkRange(std::uint32_t chunkSize, std::uint64_t size, std::uint32_t index) {
    if (index >= ChunkCount(chunkSize, size)) throw std::out_of_range("GetChunkRange: chunk index out of range");
    const std::uint64_t lower = static_cast<std::uint64_t>(index) * chunkSize;
    // lower < size here, so size - lower cannot wrap and the upper bound stays below size.
    const std::uint64_t length = std::min<std::uint64_t>(chunkSize, size - lower);
    return ChunkRange{lower, lower + length - 1};
}

bool IsSafeRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
    std::string_view rest(path);
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty() || segment == "..") return false;
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

StandardFileManifest::StandardFileManifest(const ptree& node) {
    Deserialize(node);
}

void StandardFileManifest::Deserialize(const ptree& node) {
    try {
        Read(node);
    } catch (...) {
        throw ManifestParseException();
    }
    if (!IsSafeRelativePath(path_) || chunkSize_ == 0 || size_ == 0 ||
        checksums_.size() != ChunkCount(chunkSize_, size_)) {
        throw ManifestParseException();
    }
}

void StandardFileManifest::Read(const ptree& node) {
    path_ = node.get<std::string>("path");
    chunkSize_ = ReadUnsignedValue<std::uint32_t>(node, "chunksize");
    size_ = ReadUnsignedValue<std::uint64_t>(node, "size");
    const std::uint32_t count = ChunkCount(chunkSize_, size_);
    checksums_.clear();
    const std::string text = node.get<std::string>("checksums");
    // The length is checked before any room is reserved: the count comes from untrusted numbers and may reach
    // 2^32, while the text that must match it is already in memory.
    if (text.size() != kChecksumDigits * static_cast<std::uint64_t>(count)) return;
    checksums_.reserve(count);
    for (std::size_t offset = 0; offset < text.size(); offset += kChecksumDigits) {
        checksums_.push_back(ParseChecksumGroup(std::string_view(text).substr(offset, kChecksumDigits)));
    }
}

}  // namespace qelt

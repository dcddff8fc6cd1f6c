#include "manifest/crc32.h"

#include <gtest/gtest.h>

#include <boost/crc.hpp>
#include <random>
#include <string>
#include <vector>

namespace qelt {
namespace {

TEST(Crc32Test, MatchesPublishedCheckValues) {
    EXPECT_EQ(Crc32(""), 0u);
    EXPECT_EQ(Crc32("a"), 0xE8B7BE43u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    const std::vector<unsigned char> zeros(32, 0);
    EXPECT_EQ(Crc32(zeros.data(), zeros.size()), 0x190A55ADu);
}

TEST(Crc32Test, AgreesWithBoostCrcOnRandomBuffers) {
    std::mt19937 random(20240611);
    // Sizes around the word and vector widths the fast paths switch at, plus a large buffer.
    const std::vector<std::size_t> sizes = {1, 3, 7, 8, 15, 16, 31, 63, 64, 65, 255, 4096, 65537, 1 << 20};
    for (std::size_t size : sizes) {
        std::vector<unsigned char> buffer(size);
        for (auto& byte : buffer)
            byte = static_cast<unsigned char>(random());
        for (std::size_t offset : {std::size_t{0}, std::size_t{1}}) {
            if (offset >= size) continue;
            boost::crc_32_type reference;
            reference.process_bytes(buffer.data() + offset, size - offset);
            EXPECT_EQ(Crc32(buffer.data() + offset, size - offset), reference.checksum())
                << "size " << size << " offset " << offset;
        }
    }
}

TEST(Crc32Test, UpdateContinuesAcrossSplits) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const std::uint32_t first = Crc32(text.data(), split);
        EXPECT_EQ(Crc32Update(first, text.data() + split, text.size() - split), 0x414FA339u) << split;
    }
}

TEST(Crc32Test, ZerosAreWorkedOutAsIfRead) {
    const std::vector<unsigned char> zeros((1 << 20) + 3, 0);
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{31}, std::size_t{4096},
                               std::size_t{16387}, std::size_t{1} << 20, zeros.size()}) {
        EXPECT_EQ(Crc32OfZeros(length), Crc32(zeros.data(), length)) << length;
    }
    // Beyond what a view holds: four copies of 1 MiB + 3 continue from one another.
    std::uint32_t crc = 0;
    for (int i = 0; i < 4; ++i)
        crc = Crc32Update(crc, zeros.data(), zeros.size());
    EXPECT_EQ(Crc32OfZeros(4 * zeros.size()), crc);
}

TEST(Crc32Test, FormatsEightDigitsMostSignificantFirst) {
    EXPECT_EQ(FormatChecksum(0), "00000000");
    EXPECT_EQ(FormatChecksum(0x1a), "0000001a");
    EXPECT_EQ(FormatChecksum(0xCBF43926u), "cbf43926");
    EXPECT_EQ(FormatChecksum(0xFFFFFFFFu), "ffffffff");
    EXPECT_EQ(FormatChecksums({0x1, 0xABCDEF01u}), "00000001abcdef01");
    EXPECT_EQ(FormatChecksums({}), "");
}

}  // namespace
}  // namespace qelt

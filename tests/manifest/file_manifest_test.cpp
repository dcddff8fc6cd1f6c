#include "manifest/file_manifest.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <limits>
#include <stdexcept>

#include "manifest/manifest_exception.h"
#include "tests/manifest/manifest_test_documents.h"

namespace qelt {
namespace {

using test::Checksums;
using test::FileElement;
using test::ReadXml;

constexpr std::uint64_t kTwoTo32 = 1ull << 32;
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

StandardFileManifest ReadFile(const std::string& fileXml) {
    return StandardFileManifest(ReadXml(fileXml).get_child("file"));
}

void ExpectMalformed(const std::string& fileXml) {
    EXPECT_THROW(ReadFile(fileXml), ManifestParseException) << fileXml;
}

TEST(ChunkCountTest, RoundsUpAndRefusesCountsBeyond32Bits) {
    EXPECT_EQ(ChunkCount(0, 100), 0u);
    EXPECT_EQ(ChunkCount(4, 1), 1u);
    EXPECT_EQ(ChunkCount(4, 8), 2u);
    EXPECT_EQ(ChunkCount(4, 9), 3u);
    EXPECT_EQ(ChunkCount(1, kTwoTo32 - 1), 0xFFFFFFFFu);
    EXPECT_THROW(ChunkCount(1, kTwoTo32), ManifestOverflowException);
    // size + 1 does not fit 64 bits, although the count itself would.
    EXPECT_THROW(ChunkCount(2, kMax64), ManifestOverflowException);
    EXPECT_THROW(ChunkCount(1, kMax64), ManifestOverflowException);
}

TEST(ChunkCountTest, LargestChunksReachTheLargestCount) {
    const std::uint64_t size = 0xFFFFFFFFull * 0xFFFFFFFFull;
    EXPECT_EQ(ChunkCount(0xFFFFFFFFu, size), 0xFFFFFFFFu);
    EXPECT_THROW(ChunkCount(0xFFFFFFFFu, size + 1), ManifestOverflowException);
}

TEST(ChunkRangeTest, OnlyTheLastChunkIsShorter) {
    EXPECT_EQ(GetChunkRange(4, 9, 0).lowerBound, 0u);
    EXPECT_EQ(GetChunkRange(4, 9, 0).upperBound, 3u);
    EXPECT_EQ(GetChunkRange(4, 9, 1).lowerBound, 4u);
    EXPECT_EQ(GetChunkRange(4, 9, 1).upperBound, 7u);
    EXPECT_EQ(GetChunkRange(4, 9, 2).lowerBound, 8u);
    EXPECT_EQ(GetChunkRange(4, 9, 2).upperBound, 8u);
    EXPECT_EQ(GetChunkRange(4, 8, 1).upperBound, 7u);
    EXPECT_THROW(GetChunkRange(4, 8, 2), std::out_of_range);
    EXPECT_THROW(GetChunkRange(0, 8, 0), std::out_of_range);
}

TEST(ChunkRangeTest, BoundsAreComputedIn64Bits) {
    const std::uint64_t size = 0xFFFFFFFFull * 0xFFFFFFFFull;
    const ChunkRange last = GetChunkRange(0xFFFFFFFFu, size, 0xFFFFFFFEu);
    EXPECT_EQ(last.lowerBound, 0xFFFFFFFEull * 0xFFFFFFFFull);
    EXPECT_EQ(last.upperBound, size - 1);
}

TEST(FileManifestTest, OneByteFileHasOneChunk) {
    const auto file = ReadFile(FileElement("one.bin", "1048576", "1", "e8b7be43"));
    EXPECT_EQ(file.GetPath(), "one.bin");
    EXPECT_EQ(file.GetChunkSize(), 1048576u);
    EXPECT_EQ(file.GetSize(), 1u);
    EXPECT_EQ(file.GetChecksums(), std::vector<std::uint32_t>{0xE8B7BE43u});
    ExpectMalformed(FileElement("one.bin", "1048576", "1", ""));
    ExpectMalformed(FileElement("one.bin", "1048576", "1", "e8b7be43e8b7be43"));
}

TEST(FileManifestTest, ExactMultipleAndOneByteMore) {
    const auto exact = ReadFile(FileElement("f", "4", "8", "0000000100000002"));
    EXPECT_EQ(exact.GetChecksums(), (std::vector<std::uint32_t>{1, 2}));
    ExpectMalformed(FileElement("f", "4", "9", "0000000100000002"));
    const auto more = ReadFile(FileElement("f", "4", "9", "000000010000000200000003"));
    EXPECT_EQ(more.GetChecksums(), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(FileManifestTest, ChecksumTextOneCharacterOffFails) {
    const std::string text = Checksums(3);
    EXPECT_NO_THROW(ReadFile(FileElement("f", "4", "12", text)));
    ExpectMalformed(FileElement("f", "4", "12", text.substr(0, text.size() - 1)));
    ExpectMalformed(FileElement("f", "4", "12", text + "0"));
}

TEST(FileManifestTest, HexDigitsInEitherCase) {
    EXPECT_EQ(ReadFile(FileElement("f", "4", "8", "ABCDEF01abcdef01")).GetChecksums(),
              (std::vector<std::uint32_t>{0xABCDEF01u, 0xABCDEF01u}));
    EXPECT_EQ(ReadFile(FileElement("f", "4", "4", "aBcD12eF")).GetChecksums(),
              std::vector<std::uint32_t>{0xABCD12EFu});
}

TEST(FileManifestTest, GroupsThatAreNotEightHexDigitsFail) {
    for (const char* group :
         {"0000000g", " 0000001", "0000001 ", "+0000001", "-0000001", "0x000001", "0000 001"}) {
        ExpectMalformed(FileElement("f", "4", "4", group));
    }
}

TEST(FileManifestTest, NumbersUseStreamConversion) {
    EXPECT_EQ(ReadFile(FileElement("f", " 4 ", "\n8\t", Checksums(2))).GetChunkSize(), 4u);
    ExpectMalformed(FileElement("f", "4x", "8", Checksums(2)));
    ExpectMalformed(FileElement("f", "4", "8.0", Checksums(2)));
    ExpectMalformed(FileElement("f", "", "8", Checksums(2)));
    ExpectMalformed(FileElement("f", "4", "", Checksums(2)));
}

TEST(FileManifestTest, ZeroNegativeAndOutOfRangeNumbersFail) {
    ExpectMalformed(FileElement("f", "0", "8", ""));
    ExpectMalformed(FileElement("f", "4", "0", ""));
    // The stream would wrap these to the type's maximum.
    ExpectMalformed(FileElement("f", "-1", "8", Checksums(1)));
    ExpectMalformed(FileElement("f", "4", "-8", Checksums(1)));
    ExpectMalformed(FileElement("f", "4294967296", "8", Checksums(1)));
    ExpectMalformed(FileElement("f", "4", "18446744073709551616", Checksums(1)));
}

TEST(FileManifestTest, HugeChunkCountsFailWithoutAllocating) {
    // 2^32 - 1 chunks would be 16 GiB of checksums; the short text must be refused before any room is reserved.
    ExpectMalformed(FileElement("f", "1", std::to_string(kTwoTo32 - 1), Checksums(1)));
    ExpectMalformed(FileElement("f", "1", std::to_string(kTwoTo32), Checksums(1)));
    ExpectMalformed(FileElement("f", "2", std::to_string(kMax64), Checksums(1)));
}

TEST(FileManifestTest, MissingValuesFail) {
    ExpectMalformed("<file><chunksize>4</chunksize><size>4</size><checksums>00000000</checksums></file>");
    ExpectMalformed("<file><path>f</path><size>4</size><checksums>00000000</checksums></file>");
    ExpectMalformed("<file><path>f</path><chunksize>4</chunksize><checksums>00000000</checksums></file>");
    ExpectMalformed("<file><path>f</path><chunksize>4</chunksize><size>4</size></file>");
    ExpectMalformed(FileElement("", "4", "4", "00000000"));
}

TEST(FileManifestTest, ValuesAsAttributes) {
    const auto file =
        ReadFile("<file path=\"dir/a.bin\" chunksize=\"4\" size=\"5\" checksums=\"0000000a0000000b\"/>");
    EXPECT_EQ(file.GetPath(), "dir/a.bin");
    EXPECT_EQ(file.GetChecksums(), (std::vector<std::uint32_t>{10, 11}));
    // The element is read, the attribute ignored.
    EXPECT_EQ(ReadFile("<file size=\"1\"><path>p</path><chunksize>4</chunksize><size>4</size>"
                       "<checksums>00000000</checksums></file>")
                  .GetSize(),
              4u);
}

TEST(FileManifestTest, PathsThatLeaveTheDestinationFail) {
    for (const char* path : {"/etc/passwd", "../up", "a/../../up", "..", "a//b", "a/", "a\\b", "\\\\server\\x"}) {
        ExpectMalformed(FileElement(path, "4", "4", "00000000"));
    }
    // A numeric character reference carries a NUL into the text.
    ExpectMalformed(FileElement("a&#0;b", "4", "4", "00000000"));
    ptree nul;
    nul.put("file.path", std::string("a\0b", 3));
    nul.put("file.chunksize", "4");
    nul.put("file.size", "4");
    nul.put("file.checksums", "00000000");
    EXPECT_THROW(StandardFileManifest(nul.get_child("file")), ManifestParseException);
}

TEST(FileManifestTest, OrdinaryRelativePathsAreKept) {
    for (const char* path : {"a", "dir/sub/file.dat", "..hidden", "a..b/c", "./a", "with space/\xc3\xa9.txt"}) {
        EXPECT_EQ(ReadFile(FileElement(path, "4", "4", "00000000")).GetPath(), path);
    }
}

}  // namespace
}  // namespace qelt

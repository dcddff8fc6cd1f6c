#include "manifest/package_manifest.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <limits>

#include "manifest/file_manifest.h"
#include "manifest/manifest_exception.h"
#include "tests/manifest/manifest_test_documents.h"

namespace qelt {
namespace {

using test::Checksums;
using test::FileElement;
using test::PackageDocument;
using test::ReadXml;

std::shared_ptr<StandardPackageManifest> ReadPackage(const std::string& xml) {
    auto package = std::make_shared<StandardPackageManifest>();
    package->Deserialize(ReadXml(xml));
    return package;
}

void ExpectMalformed(const std::string& xml) {
    EXPECT_THROW(ReadPackage(xml), ManifestParseException) << xml;
}

std::string OneFile(const std::string& path = "a.bin") {
    return FileElement(path, "4", "8", Checksums(2));
}

TEST(PackageManifestTest, ReadsFieldsAndFilesInDocumentOrder) {
    const auto package = ReadPackage(PackageDocument(FileElement("b/second.bin", "4", "10", Checksums(3)) +
                                                     FileElement("first.bin", "1048576", "1", "0a0B0c0D")));
    EXPECT_EQ(package->GetId(), "pkg");
    EXPECT_EQ(package->GetName(), "Package");
    EXPECT_EQ(package->GetPartnerId(), "partner");
    EXPECT_EQ(package->GetVersionId(), "v1");
    EXPECT_EQ(package->GetRun(), "");
    EXPECT_EQ(package->GetRunFile(), nullptr);
    ASSERT_EQ(package->GetFiles().size(), 2u);
    EXPECT_EQ(package->GetFiles()[0]->GetPath(), "b/second.bin");
    EXPECT_EQ(package->GetFiles()[1]->GetPath(), "first.bin");
    EXPECT_EQ(package->GetFiles()[1]->GetChecksums(), std::vector<std::uint32_t>{0x0A0B0C0Du});
    EXPECT_EQ(package->GetOtherFiles(), package->GetFiles());
    EXPECT_TRUE(package->GetRunFiles().empty());
    EXPECT_EQ(package->GetTotalSize(), 11u);
}

TEST(PackageManifestTest, TextIsTakenVerbatim) {
    const auto package = ReadPackage(
        "<package><id> pkg </id><name>N</name><partnerId>p</partnerId><versionId>\n1\n</versionId>"
        "<files/></package>");
    EXPECT_EQ(package->GetId(), " pkg ");
    EXPECT_EQ(package->GetVersionId(), "\n1\n");
}

TEST(PackageManifestTest, EmptyFilesIsAValidPackageOnlyWithoutRun) {
    const auto package = ReadPackage(PackageDocument(""));
    EXPECT_TRUE(package->GetFiles().empty());
    EXPECT_EQ(package->GetTotalSize(), 0u);
    EXPECT_NO_THROW(
        ReadPackage("<package><id>i</id><name>n</name><partnerId>p</partnerId><versionId>v</versionId>"
                    "<run></run><files/></package>"));
    ExpectMalformed(PackageDocument("", "setup.exe"));
}

TEST(PackageManifestTest, FilesMayHoldOnlyFileElements) {
    ExpectMalformed(PackageDocument(OneFile() + "<!-- a comment -->"));
    ExpectMalformed(PackageDocument(OneFile() + "<other/>"));
    ExpectMalformed(
        "<package><id>i</id><name>n</name><partnerId>p</partnerId><versionId>v</versionId>"
        "<files count=\"1\">" +
        OneFile() + "</files></package>");
    // Text directly inside files is the element's value, not a child, and does not change the file list.
    EXPECT_EQ(ReadPackage(PackageDocument("text" + OneFile()))->GetFiles().size(), 1u);
}

TEST(PackageManifestTest, EveryRequiredFieldMustBePresentAndNonEmpty) {
    const std::string fields[] = {"id", "name", "partnerId", "versionId"};
    for (const auto& missing : fields) {
        std::string without, empty;
        for (const auto& field : fields) {
            without += field == missing ? "" : "<" + field + ">x</" + field + ">";
            empty += "<" + field + ">" + (field == missing ? "" : "x") + "</" + field + ">";
        }
        ExpectMalformed("<package>" + without + "<files/></package>");
        ExpectMalformed("<package>" + empty + "<files/></package>");
    }
    ExpectMalformed("<package><id>i</id><name>n</name><partnerId>p</partnerId><versionId>v</versionId></package>");
    ExpectMalformed("<manifest><id>i</id></manifest>");
}

TEST(PackageManifestTest, AttributesReadLikeElementsAndElementsWin) {
    const auto fromAttributes = ReadPackage(
        "<package id=\"pkg\" name=\"Package\" partnerId=\"partner\" versionId=\"v1\" run=\"a.bin\"><files>" +
        OneFile() + "</files></package>");
    EXPECT_EQ(fromAttributes->GetId(), "pkg");
    EXPECT_EQ(fromAttributes->GetVersionId(), "v1");
    ASSERT_NE(fromAttributes->GetRunFile(), nullptr);

    const auto both = ReadPackage(
        "<package id=\"attribute\" versionId=\"2\"><id>element</id><name>n</name><partnerId>p</partnerId>"
        "<versionId>1</versionId><files/></package>");
    EXPECT_EQ(both->GetId(), "element");
    EXPECT_EQ(both->GetVersionId(), "1");
}

TEST(PackageManifestTest, RunFilesArePartitionedInDocumentOrder) {
    const auto package =
        ReadPackage(PackageDocument(OneFile("x.bin") + OneFile("bin/run.exe") + OneFile("y.bin"), "bin/run.exe"));
    ASSERT_EQ(package->GetRunFiles().size(), 1u);
    EXPECT_EQ(package->GetRunFile(), package->GetFiles()[1]);
    ASSERT_EQ(package->GetOtherFiles().size(), 2u);
    EXPECT_EQ(package->GetOtherFiles()[0]->GetPath(), "x.bin");
    EXPECT_EQ(package->GetOtherFiles()[1]->GetPath(), "y.bin");
}

TEST(PackageManifestTest, RunMatchesOnlyTheExactPath) {
    ExpectMalformed(PackageDocument(OneFile("bin/Run.exe"), "bin/run.exe"));
    ExpectMalformed(PackageDocument(OneFile("bin/run.exe"), "bin\\run.exe"));
    ExpectMalformed(PackageDocument(OneFile("run.exe"), "run.exe "));
}

TEST(PackageManifestTest, DuplicateRunFilesAreBothRunFilesAndTheLaterOneIsTheRunFile) {
    const std::string later = FileElement("run.exe", "8", "8", "ffffffff");
    const auto package = ReadPackage(PackageDocument(OneFile("run.exe") + OneFile("z") + later, "run.exe"));
    ASSERT_EQ(package->GetRunFiles().size(), 2u);
    EXPECT_EQ(package->GetRunFiles()[1], package->GetFiles()[2]);
    EXPECT_EQ(package->GetRunFile(), package->GetFiles()[2]);
    EXPECT_EQ(package->GetRunFile()->GetChecksums(), std::vector<std::uint32_t>{0xFFFFFFFFu});
    EXPECT_EQ(package->GetOtherFiles().size(), 1u);
    EXPECT_EQ(package->GetTotalSize(), 24u);
}

TEST(PackageManifestTest, AnInvalidFileFailsThePackage) {
    ExpectMalformed(PackageDocument(OneFile() + FileElement("b", "4", "8", Checksums(2) + "0")));
    ExpectMalformed(PackageDocument(OneFile() + FileElement("../escape", "4", "8", Checksums(2))));
}

TEST(PackageManifestTest, TotalSizeAddsLargeFilesIn64Bits) {
    const std::uint64_t size = 5'000'000'000ull;
    const auto package = ReadPackage(
        PackageDocument(FileElement("a", std::to_string(1u << 30), std::to_string(size), Checksums(5)) +
                        FileElement("b", std::to_string(1u << 30), std::to_string(size), Checksums(5))));
    EXPECT_EQ(package->GetTotalSize(), 2 * size);
}

TEST(PackageManifestTest, DeserializeReadsAgainFromScratch) {
    StandardPackageManifest package;
    package.Deserialize(ReadXml(PackageDocument(OneFile("a") + OneFile("b"), "a")));
    package.Deserialize(ReadXml(PackageDocument(OneFile("c"))));
    ASSERT_EQ(package.GetFiles().size(), 1u);
    EXPECT_EQ(package.GetOtherFiles().size(), 1u);
    EXPECT_TRUE(package.GetRunFiles().empty());
    EXPECT_EQ(package.GetRunFile(), nullptr);
}

}  // namespace
}  // namespace qelt

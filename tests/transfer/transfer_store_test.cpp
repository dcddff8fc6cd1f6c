#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>
#include <boost/thread/thread.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "manifest/manifest_exception.h"
#include "storage/posix_shared_file.h"
#include "tests/support/environment_guard.h"
#include "tests/support/temp_dir.h"
#include "transfer/json_record.h"
#include "transfer/manifest_store.h"
#include "transfer/transfer_manifest.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

constexpr const char* kId = "0123456789abcdef0123456789abcdef";

TransferManifest Record(const std::string& id, const std::string& destPath) {
    TransferManifest manifest;
    manifest.params.transferId = id;
    manifest.params.partnerId = "partner";
    manifest.params.packageId = "package";
    manifest.params.versionId = "7";
    manifest.params.destPath = destPath;
    return manifest;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class TransferStoreTest : public ::testing::Test {
protected:
    // A relative folder lands under the temporary directory, which the guard points into the test's folder.
    test::TempDir dir_;
    test::EnvironmentGuard tmpdir_{"TMPDIR", dir_.path().string()};
    PosixSharedFileFactory files_;
    JsonTempFileManifestStore<TransferManifest> store_{"store/transfers", &files_};
    fs::path folder_ = dir_ / "store/transfers";
};

TEST(TransferManifestTest, EveryKeyIsRequiredAndMustBeAString) {
    TransferManifest written = Record(kId, "/d");
    ptree tree;
    written.Serialize(tree);
    TransferManifest read;
    read.params.suspended = true;
    read.Deserialize(tree);
    EXPECT_EQ(read.params.destPath, "/d");
    EXPECT_FALSE(read.params.suspended);
    for (const char* key : {"transferId", "partnerId", "packageId", "versionId", "destPath"}) {
        ptree missing = tree;
        missing.erase(key);
        EXPECT_THROW(read.Deserialize(missing), ManifestParseException) << key;
        ptree nested = tree;
        nested.get_child(key).put("inner", "x");
        EXPECT_THROW(read.Deserialize(nested), ManifestParseException) << key;
    }
}

TEST_F(TransferStoreTest, DestinationsSurviveTheFileByteForByte) {
    for (const std::string dest :
         {"/home/zoë/Données/日本語", "C:\\Games\\\"Quoted\"\\", "/a/b\n\t\x01 /c/\x7f"}) {
        ASSERT_TRUE(store_.Save(kId, Record(kId, dest)));
        TransferManifest read;
        ASSERT_TRUE(store_.Load(kId, read));
        EXPECT_EQ(read.params.destPath, dest);
        EXPECT_EQ(read.params.transferId, kId);
    }
    EXPECT_TRUE(fs::is_regular_file(folder_ / (std::string(kId) + ".json")));
}

TEST_F(TransferStoreTest, ARecordThatCouldNotBeReadBackIsNotSaved) {
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/old")));
    EXPECT_FALSE(store_.Save(kId, Record(kId, "/bad\xff\xfe utf-8")));
    TransferManifest read;
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/old");
}

TEST_F(TransferStoreTest, ASecondSaveReplacesTheRecordWhole) {
    ASSERT_TRUE(store_.Save(kId, Record(kId, std::string(3000, 'x'))));
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/short")));
    TransferManifest read;
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/short");
    EXPECT_LT(fs::file_size(folder_ / (std::string(kId) + ".json")), 200u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(TransferStoreTest, RemoveDeletesTheRecordOnce) {
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/d")));
    EXPECT_TRUE(store_.Remove(kId));
    EXPECT_FALSE(store_.Remove(kId));
    TransferManifest read;
    EXPECT_FALSE(store_.Load(kId, read));
}

TEST_F(TransferStoreTest, KeysThatAreNotPlainFileNamesAreRefused) {
    fs::create_directories(folder_);
    WriteFile(dir_ / "store/outside.json", "{}");
    for (const std::string& key :
         std::vector<std::string>{"", ".", "..", "../outside", "a/b", "a\\b", std::string("a\0b", 3)}) {
        TransferManifest read;
        EXPECT_FALSE(store_.Save(key, Record(key, "/d"))) << key;
        EXPECT_FALSE(store_.Load(key, read)) << key;
        EXPECT_FALSE(store_.Remove(key)) << key;
    }
    EXPECT_TRUE(fs::exists(dir_ / "store/outside.json"));
    EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(TransferStoreTest, AnythingButAWholeRecordIsNoRecord) {
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/d")));
    const fs::path file = folder_ / (std::string(kId) + ".json");
    const std::string whole = ReadFile(file);
    const std::string cases[] = {
        "",
        whole.substr(0, whole.size() / 2),
        "not json at all",
        R"({"transferId":"a","partnerId":"b","packageId":"c","versionId":"d"})",
        R"({"transferId":"a","partnerId":"b","packageId":"c","versionId":"d","destPath":{"x":"y"}})",
        std::string("\x00\xff\x13\x37{\"", 6),
        "{\"destPath\":\"" + std::string(70 << 10, 'x') + "\"}",
    };
    for (const auto& text : cases) {
        WriteFile(file, text);
        TransferManifest read;
        EXPECT_FALSE(store_.Load(kId, read)) << text.substr(0, 80);
    }
    fs::remove(file);
    fs::create_directory(file);
    TransferManifest read;
    EXPECT_FALSE(store_.Load(kId, read));
}

TEST_F(TransferStoreTest, DeeplyNestedTextIsRefusedBeforeItCanExhaustASmallStack) {
    fs::create_directories(folder_);
    WriteFile(folder_ / (std::string(kId) + ".json"), std::string(60000, '['));
    bool loaded = true;
    boost::thread::attributes small;
    small.set_stack_size(256 << 10);
    boost::thread reader(small, [&] {
        TransferManifest read;
        loaded = store_.Load(kId, read);
    });
    reader.join();
    EXPECT_FALSE(loaded);
}

TEST_F(TransferStoreTest, RecordsAreReadInAnyKeyOrderAndLayout) {
    fs::create_directories(folder_);
    WriteFile(folder_ / (std::string(kId) + ".json"),
              "\n{ \"destPath\" : \"\\/x\\\\y \\u00e9\",\n\t\"versionId\":\"v\", \"packageId\":\"k\", "
              "\"partnerId\":\"p\", \"transferId\":\"" +
                  std::string(kId) + "\" }\n");
    TransferManifest read;
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/x\\y \xc3\xa9");
    EXPECT_EQ(read.params.packageId, "k");
}

// A store whose factory ends the process where the new record would take the place of the old one.
class CrashingFileFactory : public PosixSharedFileFactory {
public:
    void Replace(const std::string&, const std::string&, const std::string&) override { std::_Exit(3); }
};

TEST_F(TransferStoreTest, ACrashBeforeTheRenameLeavesTheOldRecord) {
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/old")));
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            CrashingFileFactory crashing;
            JsonTempFileManifestStore<TransferManifest> store("store/transfers", &crashing);
            store.Save(kId, Record(kId, "/new"));
        },
        ::testing::ExitedWithCode(3), "");
    const fs::path temporary = folder_ / (std::string(kId) + ".json.tmp");
    ASSERT_TRUE(fs::exists(temporary)) << "the crash should have come after the new text was written";
    TransferManifest read;
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/old");
    ASSERT_TRUE(store_.Save(kId, Record(kId, "/newer")));
    ASSERT_TRUE(store_.Load(kId, read));
    EXPECT_EQ(read.params.destPath, "/newer");
    EXPECT_FALSE(fs::exists(temporary));
}

}  // namespace
}  // namespace qelt

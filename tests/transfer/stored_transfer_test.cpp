#include "transfer/stored_transfer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/transfer/transfer_fixture.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;

class StoredTransferTest : public TransferFixture {
protected:
    void TearDown() override {
        live_.clear();
        TransferFixture::TearDown();
    }

    std::shared_ptr<Transfer> NewStored() {
        live_.push_back(factory_.CreateTransfer(Params(), Behavior()));
        return live_.back();
    }

    // The stored record of the fixture's transfer id, if there is one.
    std::optional<TransferParams> Record() {
        TransferManifest record;
        if (!store_.Load(Params().transferId, record)) return std::nullopt;
        return record.params;
    }

    TempDir records_;
    PosixSharedFileFactory files_;
    JsonTempFileManifestStore<TransferManifest> store_{records_.path().string(), &files_};
    StandardTransferWorkflowFactory workflows_;
    StoredTransferFactory factory_{&store_, &workflows_};
    std::vector<std::shared_ptr<Transfer>> live_;
};

TEST_F(StoredTransferTest, TheRecordIsWrittenByASuccessfulStartAndRemovedByCancel) {
    Publish({{"a.bin", MakeTestContent(20000, 1)}});
    HttpFault stall;
    stall.stall = std::chrono::seconds(30);
    mirrors[0]->SetFault(FilePath("a.bin"), stall);
    auto transfer = NewStored();
    EXPECT_EQ(transfer->Start(dest.path().string()).state, TransferState::Initializing);
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    EXPECT_FALSE(Record()) << "neither a refused start nor initialisation writes a record";
    EXPECT_EQ(transfer->Start("?").state, TransferState::Initialized);
    EXPECT_FALSE(Record());

    EXPECT_EQ(transfer->Start(dest.path().string()).state, TransferState::Transferring);
    const auto record = Record();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->destPath, dest.path().string());
    EXPECT_EQ(record->versionId, kVersion) << "the version the package named";
    EXPECT_EQ(record->packageId, kPackage);

    EXPECT_EQ(transfer->Cancel(false).state, TransferState::Cancelled);
    EXPECT_FALSE(Record());
    EXPECT_TRUE(fs::is_empty(records_.path()));
}

TEST_F(StoredTransferTest, CompletionAndSuspensionKeepTheRecord) {
    Publish({{"a.bin", MakeTestContent(40000, 2)}});
    auto transfer = NewStored();
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    transfer->Start(dest.path().string());
    WaitForState(*transfer, TransferState::Complete);
    ExpectFilesMatch();
    EXPECT_TRUE(Record());
    EXPECT_EQ(transfer->Suspend().state, TransferState::Suspended);
    EXPECT_TRUE(Record());
    EXPECT_EQ(transfer->Cancel(true).state, TransferState::Suspended) << "a suspended transfer is not cancelled";
    EXPECT_TRUE(Record());
    ExpectFilesMatch();
}

}  // namespace
}  // namespace qelt::test

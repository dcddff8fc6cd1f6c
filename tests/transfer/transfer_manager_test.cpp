#include "transfer/transfer_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "storage/posix_shared_file.h"
#include "tests/support/temp_dir.h"
#include "tests/transfer/simple_transfer.h"

namespace qelt {
namespace {

using test::SimpleTransfer;

TransferParams Params() {
    TransferParams params;
    params.partnerId = "partner";
    params.packageId = "package";
    params.versionId = "3";
    return params;
}

class TransferManagerTest : public ::testing::Test {
protected:
    void SaveRecord(const std::string& key, const std::string& recordedId) {
        TransferManifest record;
        record.params = Params();
        record.params.transferId = recordedId;
        record.params.destPath = "/games/here";
        ASSERT_TRUE(store_.Save(key, record));
    }

    test::TempDir dir_;
    PosixSharedFileFactory files_;
    JsonTempFileManifestStore<TransferManifest> store_{(dir_ / "transfers").string(), &files_};
    test::SimpleTransferFactory factory_;
    TempFileTransferManager manager_{&store_, &factory_};
    TransferBehavior behavior_;
};

TEST(TransferIdTest, IdsAreRandomVersion4UuidsWithoutDashes) {
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        const std::string id = NewTransferId();
        ASSERT_EQ(id.size(), 32u);
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
        EXPECT_EQ(id[12], '4') << id;
        EXPECT_NE(std::string("89ab").find(id[16]), std::string::npos) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 100u);
}

TEST_F(TransferManagerTest, IdenticalParamsGiveTwoTransfersUnderFreshIds) {
    TransferParams params = Params();
    params.transferId = "given";
    auto first = manager_.CreateTransfer(params, behavior_);
    auto second = manager_.CreateTransfer(params, behavior_);
    ASSERT_TRUE(first && second);
    const std::string firstId = first->Update().transferId;
    const std::string secondId = second->Update().transferId;
    EXPECT_NE(firstId, secondId);
    EXPECT_EQ(firstId.size(), 32u);
    EXPECT_EQ(first->Update().packageId, "package");
    EXPECT_EQ(manager_.FindTransfer(firstId, behavior_), first);
    EXPECT_EQ(manager_.FindTransfer(secondId, behavior_), second);
    EXPECT_EQ(first->Update().state, TransferState::Initializing) << "the caller initialises";
}

TEST_F(TransferManagerTest, AStoredTransferIsRestoredOnceWithTheRecordsParams) {
    const std::string id = NewTransferId();
    EXPECT_EQ(manager_.FindTransfer(id, behavior_), nullptr);
    SaveRecord(id, id);
    auto restored = manager_.FindTransfer(id, behavior_);
    ASSERT_NE(restored, nullptr);
    const TransferParams params = static_cast<SimpleTransfer&>(*restored).Params();
    EXPECT_EQ(params.transferId, id);
    EXPECT_EQ(params.destPath, "/games/here");
    EXPECT_EQ(params.versionId, "3");
    EXPECT_FALSE(params.suspended);
    EXPECT_EQ(manager_.FindTransfer(id, behavior_), restored);
    EXPECT_EQ(factory_.made.size(), 1u);
}

TEST_F(TransferManagerTest, RecordsThatDoNotNameTheirOwnIdOrAreIncompleteAreNotRestored) {
    const std::string id = NewTransferId();
    SaveRecord(id, NewTransferId());
    EXPECT_EQ(manager_.FindTransfer(id, behavior_), nullptr);
    SaveRecord(id, id + " ");
    EXPECT_EQ(manager_.FindTransfer(id, behavior_), nullptr);
    std::ofstream(dir_ / "transfers" / (id + ".json"), std::ios::trunc)
        << R"({"transferId":")" << id << R"(","partnerId":"p","packageId":"k","versionId":"v"})";
    EXPECT_EQ(manager_.FindTransfer(id, behavior_), nullptr);
    EXPECT_TRUE(factory_.made.empty());
}

TEST_F(TransferManagerTest, ShutdownSuspendsEveryTransferWithoutHoldingTheManagersLock) {
    auto first = std::static_pointer_cast<SimpleTransfer>(manager_.CreateTransfer(Params(), behavior_));
    auto second = std::static_pointer_cast<SimpleTransfer>(manager_.CreateTransfer(Params(), behavior_));
    first->Initialize();
    first->Start("/d");
    // Another thread asks the manager for a transfer while Shutdown suspends: it would wait for ever if Shutdown
    // held the manager's mutex there.
    std::thread asker;
    bool answeredInTime = false;
    std::shared_ptr<Transfer> answer = first;
    second->onSuspend = [&] {
        std::promise<void> answered;
        auto done = answered.get_future();
        asker = std::thread([&, answered = std::move(answered)]() mutable {
            answer = manager_.FindTransfer(NewTransferId(), behavior_);
            answered.set_value();
        });
        answeredInTime = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    };
    manager_.Shutdown();
    asker.join();
    EXPECT_TRUE(answeredInTime);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(first->suspendCalls, 1);
    EXPECT_EQ(second->suspendCalls, 1);
    EXPECT_EQ(first->Update().state, TransferState::Suspended);
}

TEST_F(TransferManagerTest, AfterShutdownNoTransferIsHandedOut) {
    auto live = manager_.CreateTransfer(Params(), behavior_);
    const std::string liveId = live->Update().transferId;
    const std::string storedId = NewTransferId();
    SaveRecord(storedId, storedId);
    manager_.Shutdown();
    EXPECT_EQ(manager_.CreateTransfer(Params(), behavior_), nullptr);
    EXPECT_EQ(manager_.FindTransfer(liveId, behavior_), nullptr);
    EXPECT_EQ(manager_.FindTransfer(storedId, behavior_), nullptr);
}

}  // namespace
}  // namespace qelt

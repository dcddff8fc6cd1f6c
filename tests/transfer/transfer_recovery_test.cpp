#include <gtest/gtest.h>

#include <thread>

#include "tests/transfer/transfer_fixture.h"

namespace qelt::test {
namespace {

using namespace std::chrono_literals;

class TransferRecoveryTest : public TransferFixture {
protected:
    // Requests for the file, counting on each mirror only those after its mark (its request number then).
    std::size_t RequestsOf(const std::string& path, const std::vector<std::uint64_t>& marks = {}) const {
        std::size_t count = 0;
        for (std::size_t i = 0; i < mirrors.size(); ++i) {
            const std::uint64_t after = i < marks.size() ? marks[i] : 0;
            for (const auto& request : mirrors[i]->Requests())
                count += request.path == FilePath(path) && request.number > after;
        }
        return count;
    }
    std::uint64_t RequestCount() const {
        std::uint64_t count = 0;
        for (const auto& mirror : mirrors)
            count += mirror->RequestCount();
        return count;
    }
    // Until no request has arrived for a while: the requests sent before now have all come in.
    void WaitForQuiet() {
        for (std::uint64_t seen = RequestCount();;) {
            std::this_thread::sleep_for(300ms);
            const std::uint64_t now = RequestCount();
            if (now == seen) return;
            seen = now;
        }
    }
};

TEST_F(TransferRecoveryTest, MirrorsFailingEveryAttemptPauseUntilRetryThenOnlyWhatIsMissingMoves) {
    // The run file comes first and completes; every mirror then fails the other file.
    Publish({{"run.exe", MakeTestContent(2 * 16384, 5)}, {"other.bin", MakeTestContent(3 * 16384 + 9, 6)}},
            "run.exe", 2);
    HttpFault unavailable;
    unavailable.status = 503;
    for (const auto& mirror : mirrors)
        mirror->SetFault(FilePath("other.bin"), unavailable);
    auto transfer = NewTransfer(Params());
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    transfer->Start(dest.path().string());

    TransferStatus status = WaitForState(*transfer, TransferState::Transferring, TransferError::ConnectionError);
    EXPECT_TRUE(status.errorRetryable);
    EXPECT_EQ(status.bytesVerified, 2u * 16384) << "the run file is complete";
    EXPECT_EQ(transfer->Resume().state, TransferState::Transferring) << "only Retry clears the error";
    WaitForQuiet();
    std::vector<std::uint64_t> beforeRetry;
    for (const auto& mirror : mirrors) {
        beforeRetry.push_back(mirror->RequestCount());
        mirror->ClearFaults();
    }

    status = transfer->Retry();
    EXPECT_EQ(status.error, TransferError::None);
    EXPECT_FALSE(status.errorRetryable);
    status = WaitForState(*transfer, TransferState::Complete);
    ExpectFilesMatch();
    EXPECT_EQ(status.bytesVerified, TotalSize());
    EXPECT_EQ(RequestsOf("run.exe"), 2u) << "each chunk of the run file was fetched once";
    EXPECT_EQ(RequestsOf("other.bin", beforeRetry), 4u) << "one request per missing chunk after Retry";

    Drain();
    EXPECT_EQ(CountOf("numRetryableErrors"), 1u);
    EXPECT_EQ(CountOf("numRetries"), 1u);
    EXPECT_EQ(CountOf("numCompletes"), 1u);
    bool named = false;
    for (const auto& body : EventBodies())
        named = named || body.find(R"("error":"error|2|)") != std::string::npos;
    EXPECT_TRUE(named) << "the retryable error reports the connection error";
}

TEST_F(TransferRecoveryTest, PauseInTheMiddleOfADownloadStartsNoRequestAndKeepsTheBytesValid) {
    Publish({{"slow.bin", MakeTestContent(8 * 16384, 7)}});
    HttpFault slow;
    slow.bytesPerSecond = 32 * 1024;
    mirrors[0]->SetFault(FilePath("slow.bin"), slow);
    auto transfer = NewTransfer(Params());
    transfer->Initialize();
    WaitForState(*transfer, TransferState::Initialized);
    transfer->Start(dest.path().string());
    ASSERT_TRUE(WaitUntil([&] { return transfer->Update().bytesDownloaded > 0; }));

    EXPECT_EQ(transfer->Pause().state, TransferState::TransferringPaused);
    WaitForQuiet();
    const std::uint64_t paused = RequestCount();
    const TransferStatus status = transfer->Update();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(RequestCount(), paused) << "no request starts while paused";
    EXPECT_EQ(transfer->Update().bytesDownloaded, status.bytesDownloaded);
    EXPECT_LT(status.bytesVerified, TotalSize());

    mirrors[0]->ClearFaults();
    EXPECT_EQ(transfer->Resume().state, TransferState::Transferring);
    const TransferStatus done = WaitForState(*transfer, TransferState::Complete);
    ExpectFilesMatch();
    EXPECT_EQ(done.bytesVerified, TotalSize());
    EXPECT_EQ(done.bytesTransferred, TotalSize()) << "bytes of interrupted chunks were taken back";
}

}  // namespace
}  // namespace qelt::test

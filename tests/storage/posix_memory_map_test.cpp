#include "storage/posix_memory_map.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <thread>

#include "storage/file_exception.h"
#include "storage/posix_shared_file.h"
#include "tests/storage/file_test_util.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;
using test::Pattern;
using test::ReadFileBytes;
using test::WriteFileBytes;

std::uint32_t Crc(const std::uint8_t* data, std::uint32_t length) {
    return libdeflate_crc32(0, data, length);
}

class MemoryMapViewTest : public ::testing::Test {
protected:
    // A file of `size` pattern bytes, opened whole.
    std::shared_ptr<SharedFile> FileOf(std::size_t size, const std::string& name = "data") {
        WriteFileBytes(dir_ / name, Pattern(size));
        return factory_.Open(dir_.path().string(), name, SharedFileMode::OpenExisting, 0, kUnboundedUpperBound);
    }

    test::TempDir dir_;
    PosixSharedFileFactory factory_;
    const std::uint64_t page_ = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
};

TEST_F(MemoryMapViewTest, UnalignedViewReadsAndWritesExactlyItsBytes) {
    const auto original = Pattern(80000);
    auto file = FileOf(80000);
    auto mapped = file->Map(70000, 70099);
    auto* view = dynamic_cast<PosixMemoryMapView*>(mapped.get());
    ASSERT_NE(view, nullptr);
    // The mapping starts on a granule of the file, not on the page before the view.
    EXPECT_EQ(view->Delta(), 70000 % PosixMemoryMap::kGranularity);
    EXPECT_EQ(view->Tell(), 70000u);
    EXPECT_EQ(view->Data()[0], original[70000]);

    std::vector<std::uint8_t> back(100);
    EXPECT_EQ(view->Read(back.data(), 100), 100u);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), original.begin() + 70000));
    EXPECT_EQ(view->Tell(), 70100u);

    const auto replacement = Pattern(100, 7);
    view->Seek(70000);
    EXPECT_EQ(view->Write(replacement.data(), 100), 100u);
    mapped.reset();
    file.reset();

    auto expected = original;
    std::copy(replacement.begin(), replacement.end(), expected.begin() + 70000);
    EXPECT_EQ(ReadFileBytes(dir_ / "data"), expected);
}

TEST_F(MemoryMapViewTest, SeekAndWriteStayInsideTheView) {
    auto file = FileOf(5000);
    auto view = file->Map(1000, 1999);
    const auto bytes = Pattern(2);
    EXPECT_THROW(view->Seek(2000), FileOutOfBoundsException);
    EXPECT_THROW(view->Seek(999), FileOutOfBoundsException);
    view->Seek(1999);
    EXPECT_THROW(view->Write(bytes.data(), 2), FileOutOfBoundsException);
    EXPECT_EQ(view->Tell(), 1999u);
    EXPECT_EQ(view->Write(bytes.data(), 1), 1u);
    EXPECT_EQ(view->Tell(), 2000u);
    EXPECT_EQ(view->Write(bytes.data(), 0), 0u);  // at the end, and still no range error
    EXPECT_EQ(ReadFileBytes(dir_ / "data")[1999], bytes[0]);
    EXPECT_EQ(ReadFileBytes(dir_ / "data")[2000], Pattern(5000)[2000]);
}

TEST_F(MemoryMapViewTest, ReadIsCutTo4096AndFailsAtTheEnd) {
    auto file = FileOf(20000);
    auto view = file->Map(100, 10099);
    std::vector<std::uint8_t> back(5000);
    EXPECT_EQ(view->Read(back.data(), 5000), 4096u);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4096, Pattern(20000).begin() + 100));
    view->Seek(10099);
    EXPECT_EQ(view->Read(back.data(), 1), 1u);
    EXPECT_THROW(view->Read(back.data(), 1), FileOutOfBoundsException);
    EXPECT_EQ(view->Read(back.data(), 0), 0u);
}

TEST_F(MemoryMapViewTest, ConsumeHandsOutConsecutiveBytes) {
    auto file = FileOf(3000);
    auto view = file->Map(0, 2999);
    EXPECT_EQ(view->Consume(0), nullptr);
    EXPECT_EQ(view->Tell(), 0u);
    std::uint8_t* first = view->Consume(1000);
    std::uint8_t* second = view->Consume(2000);
    EXPECT_EQ(first, view->Data());
    EXPECT_EQ(second, view->Data() + 1000);
    EXPECT_EQ(view->Tell(), 3000u);
    EXPECT_THROW(view->Consume(1), FileOutOfBoundsException);
}

TEST_F(MemoryMapViewTest, ApplyRunsOverTheWholeView) {
    const auto original = Pattern(3 * page_ + 10);
    auto file = FileOf(original.size());
    auto view = file->Map(5, original.size() - 1);
    EXPECT_EQ(view->Apply(Crc), libdeflate_crc32(0, original.data() + 5, original.size() - 5));
    EXPECT_THROW(view->Apply(MappedDataFunction()), std::bad_function_call);
}

TEST_F(MemoryMapViewTest, FetchesChangeNeitherCursorNorData) {
    auto file = FileOf(4 * page_);
    auto view = file->Map(page_ / 2, 3 * page_);
    view->Seek(page_);
    view->Fetch();
    view->FetchForWriting();
    EXPECT_EQ(view->Tell(), page_);
    auto one = file->Map(7, 7);
    one->FetchForWriting();
    EXPECT_EQ(one->Data()[0], Pattern(4 * page_)[7]);
    one->Fetch();
    EXPECT_EQ(ReadFileBytes(dir_ / "data"), Pattern(4 * page_));
}

TEST_F(MemoryMapViewTest, TwoThreadsWriteTwoViewsOfOneFile) {
    const std::uint32_t half = 1 << 20;
    auto file = factory_.Open(dir_.path().string(), "big", SharedFileMode::OpenOrCreate, 0, 2 * half - 1);
    ASSERT_TRUE(file->Allocate(2 * half));
    const auto a = Pattern(half, 1);
    const auto b = Pattern(half, 2);
    // Each thread maps its own view, so the lazy creation of the file's mapping is raced too.
    auto writer = [&](std::uint64_t first, const std::vector<std::uint8_t>& bytes) {
        auto view = file->Map(first, first + half - 1);
        for (std::uint32_t offset = 0; offset < half; offset += 4096)
            view->Write(bytes.data() + offset, 4096);
    };
    std::thread first(writer, 0, std::cref(a));
    std::thread second(writer, half, std::cref(b));
    first.join();
    second.join();
    file.reset();

    const auto content = ReadFileBytes(dir_ / "big");
    ASSERT_EQ(content.size(), 2u * half);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), content.begin()));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), content.begin() + half));
}

TEST_F(MemoryMapViewTest, ViewsInsideAndAcrossWindowsReachTheirOwnBytes) {
    const std::uint64_t window = PosixMemoryMap::kWindowBytes;
    const std::uint64_t size = 2 * window + 12345;  // the last window reaches past the end of the file
    auto file = FileOf(size);
    auto expected = Pattern(size);
    struct Range {
        std::uint64_t first, last;
    };
    const Range ranges[] = {
        {window - 100, window + 99},       // across the edge of the first window: a mapping of its own
        {window + 7, window + 4096 + 7},   // inside the second window, shared with the next one
        {window + 70000, window + 70999},  //
        {2 * window + 5, size - 1},        // up to the last byte of the file
        {0, 3 * window / 2},               // longer than a window
    };
    std::vector<std::shared_ptr<MemoryMappedFileData>> views;
    std::uint32_t seed = 10;
    for (const Range& range : ranges) {
        auto view = file->Map(range.first, range.last);
        const auto length = static_cast<std::uint32_t>(range.last - range.first + 1);
        ASSERT_EQ(view->Apply(Crc), libdeflate_crc32(0, expected.data() + range.first, length));
        const auto bytes = Pattern(length, ++seed);
        view->Fetch();
        ASSERT_EQ(view->Write(bytes.data(), length), length);
        std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(range.first));
        views.push_back(view);  // kept alive together, so that windows are shared
    }
    views.clear();
    file.reset();
    EXPECT_EQ(ReadFileBytes(dir_ / "data"), expected);
}

class TruncatedFileTest : public MemoryMapViewTest {
protected:
    void SetUp() override {
        file_ = FileOf(4 * page_);
        view_ = file_->Map(0, 4 * page_ - 1);
        view_->Fetch();
        // Someone else cuts the file to one page while the view is live: the other pages now lie past its end.
        fs::resize_file(dir_ / "data", page_);
    }

    std::shared_ptr<SharedFile> file_;
    std::shared_ptr<MemoryMappedFileData> view_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(4096);
};

TEST_F(TruncatedFileTest, ReadPastTheNewEndIsAnInvalidMap) {
    EXPECT_EQ(view_->Read(buffer_.data(), 4096), 4096u);  // the first page is still there
    EXPECT_THROW(view_->Read(buffer_.data(), 4096), FileInvalidMapException);
    EXPECT_EQ(view_->Tell(), 2 * page_);  // the cursor moved before the copy
}

TEST_F(TruncatedFileTest, WritePastTheNewEndIsAnInvalidMapAndKeepsTheCursor) {
    const auto bytes = Pattern(100);
    view_->Seek(2 * page_ + 10);
    EXPECT_THROW(view_->Write(bytes.data(), 100), FileInvalidMapException);
    EXPECT_EQ(view_->Tell(), 2 * page_ + 10);
    view_->Seek(10);
    EXPECT_EQ(view_->Write(bytes.data(), 100), 100u);
}

TEST_F(TruncatedFileTest, ApplyAndFetchAreAnInvalidMap) {
    EXPECT_NO_THROW(view_->FetchForWriting()) << "only a hint: the writes meet the fault and report it";
    EXPECT_THROW(view_->Fetch(), FileInvalidMapException);
    EXPECT_THROW(view_->Apply(Crc), FileInvalidMapException);
}

TEST_F(TruncatedFileTest, AViewThatFaultedInApplyIsNotUsedAgain) {
    EXPECT_THROW(view_->Apply(Crc), FileInvalidMapException);
    // Even once the file has its length back, the pages replaced during the fault no longer reach it.
    fs::resize_file(dir_ / "data", 4 * page_);
    const auto bytes = Pattern(10);
    EXPECT_THROW(view_->Write(bytes.data(), 10), FileInvalidMapException);
    EXPECT_THROW(view_->Apply(Crc), FileInvalidMapException);
    EXPECT_THROW(view_->Fetch(), FileInvalidMapException);
}

TEST_F(TruncatedFileTest, AFaultInApplyRetiresTheWholeWindowButNotTheFile) {
    // Another view inside the same window as the faulting one, on the page that is still there.
    auto neighbour = file_->Map(0, page_ - 1);
    EXPECT_THROW(view_->Apply(Crc), FileInvalidMapException);
    // The neighbour's mapping now holds a page of zeros where the file was: a write there would be lost.
    const auto bytes = Pattern(10);
    EXPECT_THROW(neighbour->Write(bytes.data(), 10), FileInvalidMapException);
    // A view made afterwards gets a fresh mapping that reaches the file again.
    fs::resize_file(dir_ / "data", 4 * page_);
    auto fresh = file_->Map(2 * page_, 2 * page_ + 9);
    EXPECT_EQ(fresh->Write(bytes.data(), 10), 10u);
    fresh.reset();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), ReadFileBytes(dir_ / "data").begin() + 2 * page_));
}

TEST_F(TruncatedFileTest, ApplyRunsTheFunctionToItsEnd) {
    bool finished = false;
    EXPECT_THROW(view_->Apply([&](const std::uint8_t* data, std::uint32_t length) {
        const std::uint32_t crc = libdeflate_crc32(0, data, length);
        finished = true;
        return crc;
    }),
                 FileInvalidMapException);
    EXPECT_TRUE(finished);
}

TEST_F(TruncatedFileTest, AFunctionThatThrowsAfterAFaultStillBreaksTheView) {
    EXPECT_THROW(view_->Apply([](const std::uint8_t* data, std::uint32_t length) -> std::uint32_t {
        static_cast<void>(libdeflate_crc32(0, data, length));
        throw std::runtime_error("gave up");
    }),
                 FileInvalidMapException);
    fs::resize_file(dir_ / "data", 4 * page_);
    const auto bytes = Pattern(10);
    EXPECT_THROW(view_->Write(bytes.data(), 10), FileInvalidMapException);
}

TEST_F(MemoryMapViewTest, ExceptionsOfTheFunctionPassThroughApply) {
    auto file = FileOf(page_);
    auto view = file->Map(0, page_ - 1);
    EXPECT_THROW(view->Apply([](const std::uint8_t*, std::uint32_t) -> std::uint32_t {
        throw std::runtime_error("gave up");
    }),
                 std::runtime_error);
    const auto bytes = Pattern(10);
    EXPECT_EQ(view->Write(bytes.data(), 10), 10u);
}

TEST_F(TruncatedFileTest, TheGuardIsPerThread) {
    std::vector<std::thread> threads;
    std::atomic<int> invalid{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            auto view = file_->Map(0, page_ - 1);  // inside the remaining page: must not fault
            std::vector<std::uint8_t> mine(4096);
            for (int round = 0; round < 100; ++round) {
                view->Seek(0);
                view->Read(mine.data(), static_cast<std::uint32_t>(page_ < 4096 ? page_ : 4096));
            }
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < 100; ++round) {
            view_->Seek(3 * page_);
            try {
                view_->Read(buffer_.data(), 16);
            } catch (const FileInvalidMapException&) {
                ++invalid;
            }
        }
    });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(invalid.load(), 100);
}

using TruncatedFileDeathTest = TruncatedFileTest;

// Killed by the signal, or ended by a sanitizer that reports deadly signals itself.
bool DiedOfTheFault(int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST_F(TruncatedFileDeathTest, FaultsOutsideAGuardedCopyStillEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Install the guard's handler first, so the death below shows that it passes foreign faults on.
    std::vector<std::uint8_t> byte(1);
    view_->Read(byte.data(), 1);
    std::uint8_t* pastTheEnd = view_->Data() + 3 * page_;
    EXPECT_EXIT(
        {
            volatile std::uint8_t value = *pastTheEnd;
            (void)value;
        },
        DiedOfTheFault, "");
}

}  // namespace
}  // namespace qelt

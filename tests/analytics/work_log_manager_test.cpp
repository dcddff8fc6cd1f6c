#include "analytics/work_log_manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "analytics/json_work_log_manager.h"
#include "analytics/transfer_event.h"
#include "storage/posix_shared_file.h"
#include "tests/analytics/test_transfer.h"
#include "tests/support/temp_dir.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;

// 2013-12-03 17:05:09 UTC.
const auto kNow = std::chrono::system_clock::time_point(std::chrono::seconds(1386090309));
constexpr char kPrefix[] = "[2013-12-03 17:05:09] ";
constexpr char kFileName[] = "Log.2013.12.03.17.05.09.txt";

// A leaf that describes itself like a transfer work and answers the scripted results one attempt after another,
// with an in-place retry budget of `retries`.
class DescribedWork : public SimpleWork {
public:
    DescribedWork(std::string name, bool important, std::vector<WorkResult> results, int retries = 0)
        : name_(std::move(name)), important_(important), results_(std::move(results)), retries_(retries) {}

    void Describe(ptree& out) const override {
        out.put("name", name_);
        if (important_) out.put("important", "true");
    }
    WorkStatus ExecuteTask() override { return WorkStatus(results_[std::min(attempt_++, results_.size() - 1)]); }
    bool CanRetry() override { return retries_-- > 0; }
    void Cancel() override {}

private:
    std::string name_;
    bool important_;
    std::vector<WorkResult> results_;
    std::size_t attempt_ = 0;
    int retries_;
};

struct Entry {
    std::string event;
    std::string name;
    std::string result;
    bool operator<(const Entry& o) const {
        return std::tie(event, name, result) < std::tie(o.event, o.name, o.result);
    }
    bool operator==(const Entry& o) const = default;
};

void PrintTo(const Entry& e, std::ostream* out) {
    *out << e.event << "/" << e.name << "/" << e.result;
}

class WorkLogTest : public ::testing::Test {
protected:
    std::unique_ptr<JsonWorkLogManager> Make(std::int32_t mask, const fs::path& folder) {
        return std::make_unique<JsonWorkLogManager>(mask, folder.string(), &files_, nullptr, [] { return kNow; });
    }
    std::unique_ptr<JsonWorkLogManager> Make(std::int32_t mask) { return Make(mask, logs_); }

    // Runs the work as a pool thread would, with the log observing its completion and retries.
    static void RunObserved(const std::shared_ptr<SimpleWork>& work, WorkLogManager& log) {
        work->AddCompleteCallback(&log);
        work->AddRetryCallback(&log);
        work->NotifyComplete(work->Run());
    }

    std::vector<std::string> FileNames() const {
        std::vector<std::string> names;
        if (!fs::exists(logs_)) return names;
        for (const auto& entry : fs::directory_iterator(logs_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The entries of the only log file, each line checked for its prefix and parsed, sorted (two threads write).
    std::vector<Entry> Entries() const {
        const auto names = FileNames();
        EXPECT_EQ(names.size(), 1u);
        if (names.size() != 1) return {};
        std::istringstream lines(Read(logs_ / names[0]));
        std::vector<Entry> entries;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_EQ(line.rfind(kPrefix, 0), 0u) << line;
            std::istringstream json(line.substr(sizeof kPrefix - 1));
            ptree tree;
            boost::property_tree::read_json(json, tree);
            entries.push_back({tree.get<std::string>("event"), tree.get("params.name", ""),
                               tree.get("params.workStatus.result", "")});
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    test::TempDir dir_;
    fs::path logs_ = dir_ / "logs";
    PosixSharedFileFactory files_;
};

TEST_F(WorkLogTest, DefaultMaskLeavesOutOnlyPlainCompletionsWithoutError) {
    auto log = Make(-9);
    RunObserved(std::make_shared<DescribedWork>("plain", false, std::vector{WorkResult::Success}), *log);
    RunObserved(std::make_shared<DescribedWork>("failed", false, std::vector{WorkResult::Failure}), *log);
    RunObserved(std::make_shared<DescribedWork>("important", true, std::vector{WorkResult::Success}), *log);
    RunObserved(std::make_shared<DescribedWork>("fatal", false, std::vector{WorkResult::FatalError}), *log);
    RunObserved(std::make_shared<DescribedWork>("fatalImportant", true, std::vector{WorkResult::FatalError}),
                *log);
    RunObserved(std::make_shared<DescribedWork>("retried", false,
                                                std::vector{WorkResult::RetryableError, WorkResult::Success}, 1),
                *log);
    RunObserved(std::make_shared<DescribedWork>("exhausted", false, std::vector{WorkResult::RetryableError}),
                *log);
    log.reset();

    std::vector<Entry> expected = {
        {"OnWorkComplete", "important", "0"},      {"OnWorkComplete", "fatal", "4"},
        {"OnWorkComplete", "fatalImportant", "4"}, {"OnSimpleWorkRetry", "retried", "3"},
        {"OnWorkComplete", "exhausted", "3"},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(), expected);
}

TEST_F(WorkLogTest, MasksSelectEntriesByLevelBits) {
    test::TestTransfer transfer;
    auto run = [&](std::int32_t mask) {
        fs::remove_all(logs_);
        auto log = Make(mask);
        transfer.behavior.workLogManager = log.get();
        TransferStartEvent(transfer).Fire();
        TransferPeriodicEvent(transfer, *transfer.status).Fire();
        RunObserved(std::make_shared<DescribedWork>("important", true, std::vector{WorkResult::Success}), *log);
        RunObserved(std::make_shared<DescribedWork>("plain", false, std::vector{WorkResult::Success}), *log);
        RunObserved(std::make_shared<DescribedWork>(
                        "retried", false, std::vector{WorkResult::RetryableError, WorkResult::Success}, 1),
                    *log);
    };

    run(1);
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"Start", "", ""}})) << "periodic events are never logged";

    run(0);
    EXPECT_FALSE(fs::exists(logs_)) << "nothing passes: no file, not even the folder";

    run(16);
    EXPECT_EQ(Entries(), (std::vector<Entry>{{"OnWorkComplete", "important", "0"}}));

    run(8);
    std::vector<Entry> completions = {{"OnWorkComplete", "important", "0"},
                                      {"OnWorkComplete", "plain", "0"},
                                      {"OnWorkComplete", "retried", "0"}};
    std::sort(completions.begin(), completions.end());
    EXPECT_EQ(Entries(), completions);
}

TEST_F(WorkLogTest, StartLineHasThePrefixThenTheEventAndItsParameters) {
    test::TestTransfer transfer;
    auto log = Make(-9);
    transfer.behavior.workLogManager = log.get();
    TransferStartEvent(transfer).Fire();
    log.reset();
    EXPECT_EQ(FileNames(), std::vector<std::string>{kFileName});
    EXPECT_EQ(Read(logs_ / kFileName),
              std::string(kPrefix) +
                  R"({"event":"Start","params":{"transferId":"tr\/1","partnerId":"p1","packageId":"k1",)"
                  R"("versionId":"v1","destPath":"\/dest"}})"
                  "\n");
}

TEST_F(WorkLogTest, ManagersStartingInTheSameSecondGetCountedNames) {
    auto first = Make(-9);
    auto second = Make(-9);
    auto third = Make(-9);
    first->Write(1, "{}\n");
    second->Write(1, "[]\n");
    third->Write(1, "[]\n");
    first->Write(1, "{}\n");
    EXPECT_EQ(FileNames(),
              (std::vector<std::string>{kFileName, std::string(kFileName) + ".1", std::string(kFileName) + ".2"}));
    EXPECT_EQ(Read(logs_ / kFileName), std::string(kPrefix) + "{}\n" + kPrefix + "{}\n");
}

TEST_F(WorkLogTest, UncreatableFolderLosesEntriesUntilItCanBeCreated) {
    std::ofstream(logs_.string()) << "a file where the folder should be";
    auto log = Make(-9);
    log->Write(1, "{\"lost\":\"1\"}\n");
    EXPECT_EQ(Read(logs_), "a file where the folder should be");
    fs::remove(logs_);
    log->Write(1, "{\"kept\":\"1\"}\n");
    EXPECT_EQ(Read(logs_ / kFileName), std::string(kPrefix) + "{\"kept\":\"1\"}\n");
}

TEST_F(WorkLogTest, UnrepresentableEntryEndsItsWorkWithTheExceptionAndWritesNothing) {
    auto log = Make(-9);
    auto entry = log->CreateWork(1);
    entry->Tree().put("a", "1");
    entry->Tree().get_child("a").put("b", "2");
    const WorkStatus status = entry->Run();
    EXPECT_EQ(status.result, WorkResult::FatalError);
    EXPECT_NE(std::dynamic_pointer_cast<WorkExceptionData>(status.data), nullptr);
    EXPECT_FALSE(fs::exists(logs_));
}

TEST_F(WorkLogTest, EntriesFromManyThreadsStayWholeLines) {
    auto log = Make(-9);
    constexpr int kThreads = 4;
    constexpr int kWorks = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWorks; ++i) {
                RunObserved(std::make_shared<DescribedWork>("w" + std::to_string(t), true,
                                                            std::vector{WorkResult::Success}),
                            *log);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    log.reset();
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kWorks));
    for (int t = 0; t < kThreads; ++t) {
        const Entry expected{"OnWorkComplete", "w" + std::to_string(t), "0"};
        EXPECT_EQ(std::count(entries.begin(), entries.end(), expected), kWorks);
    }
}

// A log folder on a disk with little room: a small tmpfs where mounting is allowed (root, as in CI), else a
// file-size limit for this process that stands in for it.
class FullDiskLogTest : public WorkLogTest {
protected:
    void SetUp() override {
        disk_ = dir_ / "disk";
        fs::create_directory(disk_);
        logs_ = disk_ / "logs";
        if (mount("qelt-test", disk_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=65536") == 0) {
            mounted_ = true;
            return;
        }
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &savedLimit_), 0);
        savedXfsz_ = signal(SIGXFSZ, SIG_IGN);
    }
    void TearDown() override {
        if (mounted_) umount2(disk_.c_str(), MNT_DETACH);
        if (limited_) setrlimit(RLIMIT_FSIZE, &savedLimit_);
        if (!mounted_) signal(SIGXFSZ, savedXfsz_);
    }

    // Leaves no room beyond `logSize` bytes of log.
    void Fill(std::uint64_t logSize) {
        if (mounted_) {
            std::ofstream filler(disk_ / "filler", std::ios::binary);
            const std::string block(4096, 'x');
            while (filler.write(block.data(), block.size())) {
            }
            return;
        }
        rlimit limit = savedLimit_;
        limit.rlim_cur = logSize;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        limited_ = true;
    }
    void Free() {
        if (mounted_) {
            fs::remove(disk_ / "filler");
        } else {
            setrlimit(RLIMIT_FSIZE, &savedLimit_);
            limited_ = false;
        }
    }

    fs::path disk_;
    bool mounted_ = false;
    bool limited_ = false;
    rlimit savedLimit_{};
    sighandler_t savedXfsz_ = SIG_DFL;
};

TEST_F(FullDiskLogTest, FullDiskLosesLinesOnlyAndLeavesNoBrokenLine) {
    auto log = Make(-9);
    const std::string first = "{\"n\":\"first\"}\n";
    log->Write(1, first);
    const auto logSize = fs::file_size(logs_ / kFileName);
    Fill(logSize + 100);
    // Long entries: the first fills what is left of the log's last block and fails part-way.
    const std::string longEntry = "{\"n\":\"" + std::string(6000, 'L') + "\"}\n";
    for (int i = 0; i < 3; ++i)
        EXPECT_NO_THROW(log->Write(1, longEntry));
    Free();
    log->Write(1, "{\"n\":\"after\"}\n");
    log.reset();

    std::istringstream lines(Read(logs_ / kFileName));
    std::vector<std::string> texts;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(line.rfind(kPrefix, 0), 0u) << line.substr(0, 80);
        std::istringstream json(line.substr(sizeof kPrefix - 1));
        ptree tree;
        ASSERT_NO_THROW(boost::property_tree::read_json(json, tree)) << line.substr(0, 80);
        texts.push_back(tree.get<std::string>("n"));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"first", "after"}));
}

}  // namespace
}  // namespace qelt

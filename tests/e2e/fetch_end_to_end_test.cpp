#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/fetch_fixture.h"
#include "tests/support/test_http_server.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;

std::size_t RangeRequests(const NginxServer& nginx, std::size_t first = 0) {
    const auto log = nginx.AccessLog();
    std::size_t count = 0;
    for (std::size_t i = first; i < log.size(); ++i)
        count += log[i].range.empty() ? 0 : 1;
    return count;
}

void FlipByte(const fs::path& path, std::uint64_t offset) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    const char byte = static_cast<char>(file.get() ^ 0x20);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(byte);
}

class FetchEndToEndTest : public FetchTest {};

TEST_F(FetchEndToEndTest, AFreshFetchIsByteIdenticalFetchesEachChunkOnceAndContactsNoOtherHost) {
    ServeStandardPackage();
    // Every request of the program goes through this proxy, which forwards loopback ones to nginx and shows
    // what else the program would have contacted.
    TestHttpServer proxy;
    proxy.SetProxyMode(true);
    const ProgramResult result = Fetch(Host(nginx->Ports()[0]), {}, {"http_proxy=" + proxy.ProxyAddress()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Fetched package game version 1.0 into " + dest.string()), std::string::npos)
        << result.out;

    ExpectIdentical();
    EXPECT_TRUE(IsExecutable("bin/start"));
    EXPECT_TRUE(IsExecutable("tools/helper.exe"));
    EXPECT_FALSE(IsExecutable("data/level 1#a.pak"));
    EXPECT_FALSE(IsExecutable("readme.txt"));

    SettledLogSize();
    EXPECT_EQ(RequestedChunks(0), AllChunks());
    EXPECT_EQ(RangeRequests(*nginx), AllChunks().size());
    for (const auto& request : proxy.Requests()) {
        EXPECT_EQ(request.method, "GET") << request.target;
        EXPECT_TRUE(request.target.starts_with("http://127.0.0.1:")) << request.target;
    }
    EXPECT_GT(proxy.RequestCount(), AllChunks().size());
    // The transfer has ended; its record would serve nobody.
    const fs::path records = programTemp / "Orvane Technologies/Quorvel/transfers";
    EXPECT_TRUE(!fs::exists(records) || fs::is_empty(records));
}

TEST_F(FetchEndToEndTest, ARunIntoTheCompleteFolderVerifiesInPlaceWithoutARangeRequest) {
    ServeStandardPackage();
    ASSERT_EQ(Fetch(Host(nginx->Ports()[0])).exitCode, 0);
    const std::size_t before = SettledLogSize();

    TestHttpServer proxy;
    proxy.SetProxyMode(true);
    const ProgramResult again = Fetch(Host(nginx->Ports()[1]), {"--analytics-host", "analytics.test"},
                                      {"http_proxy=" + proxy.ProxyAddress()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    SettledLogSize();
    EXPECT_EQ(RangeRequests(*nginx, before), 0u);
    ExpectIdentical();
    EXPECT_TRUE(IsExecutable("bin/start"));
    // Asked for, the analytics events go to that host (the proxy answers for it).
    std::size_t posts = 0;
    for (const auto& request : proxy.Requests()) {
        if (request.method != "POST") continue;
        ++posts;
        EXPECT_EQ(request.target, "http://analytics.test/");
    }
    EXPECT_GT(posts, 0u);
}

TEST_F(FetchEndToEndTest, DamagedChunksAreTheOnlyOnesFetchedAgain) {
    ServeStandardPackage();
    ASSERT_EQ(Fetch(Host(nginx->Ports()[0])).exitCode, 0);
    const std::size_t before = SettledLogSize();
    FlipByte(dest / "bin/start", kFetchChunkSize + 5);
    FlipByte(dest / "data/level 1#a.pak", 10 * kFetchChunkSize + 77);
    FlipByte(dest / "data/level 1#a.pak", 1500003 - 1);
    FlipByte(dest / "readme.txt", 0);
    const auto damaged = DamagedChunks();
    ASSERT_EQ(damaged.size(), 4u);

    const ProgramResult repair = Fetch(Host(nginx->Ports()[2]));
    ASSERT_EQ(repair.exitCode, 0) << repair.err;
    SettledLogSize();
    EXPECT_EQ(RequestedChunks(before), damaged);
    EXPECT_EQ(RangeRequests(*nginx, before), damaged.size());
    ExpectIdentical();
    EXPECT_TRUE(IsExecutable("bin/start"));
}

}  // namespace
}  // namespace qelt::test

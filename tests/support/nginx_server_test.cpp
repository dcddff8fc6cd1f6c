#include "tests/support/nginx_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/test_http_server.h"

namespace qelt::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Response {
    long status = 0;
    std::string body;
    CURLcode result = CURLE_OK;
};

// A libcurl handle; it keeps its connection open between requests until it is destroyed.
struct Client {
    Client() : curl(curl_easy_init()) {}
    ~Client() { curl_easy_cleanup(curl); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    CURL* curl;
};

// A plain GET, optionally of a range ("first-last").
Response Get(Client& client, const std::string& url, const std::string& range = "") {
    Response response;
    CURL* curl = client.curl;
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    if (!range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* body) {
            static_cast<std::string*>(body)->append(data, size * count);
            return size * count;
        });
    response.result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    return response;
}

Response Get(const std::string& url, const std::string& range = "") {
    Client client;
    return Get(client, url, range);
}

class NginxServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "files");
        std::ofstream(root_ / "files" / "data.bin", std::ios::binary) << content_;
    }

    TempDir root_;
    const std::string content_ = MakeTestContent(128 * 1024);
};

TEST_F(NginxServerTest, ServesRangesOnEveryPortAndLogsEachRequest) {
    NginxServer nginx({.root = root_.path(), .ports = 3});
    ASSERT_EQ(nginx.Ports().size(), 3u);
    EXPECT_NE(nginx.Ports()[0], nginx.Ports()[1]);

    const Response whole = Get(nginx.Url(0, "/files/data.bin"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, content_);
    const Response part = Get(nginx.Url(2, "/files/data.bin"), "1000-1999");
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.body, content_.substr(1000, 1000));
    EXPECT_EQ(Get(nginx.Url(1, "/files/missing.bin")).status, 404);

    ASSERT_TRUE(nginx.WaitForLogEntries(3));
    const auto log = nginx.AccessLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].port, nginx.Ports()[0]);
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/files/data.bin");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[0].range, "");
    EXPECT_EQ(log[0].bodyBytes, content_.size());
    EXPECT_EQ(log[1].port, nginx.Ports()[2]);
    EXPECT_EQ(log[1].status, 206);
    EXPECT_EQ(log[1].range, "bytes=1000-1999");
    EXPECT_EQ(log[1].bodyBytes, 1000u);
    EXPECT_EQ(log[2].status, 404);
}

TEST_F(NginxServerTest, RateLimitHoldsBackOnlyItsOwnPort) {
    // nginx lets a response send one second's worth at once and spreads the rest: 128 KiB at 64 KiB/s takes
    // about a second more. Only the lower bound is checked; a slow machine makes it longer, never shorter.
    NginxServer nginx({.root = root_.path(), .ports = 2, .rateLimits = {0, 64 * 1024}});
    const auto start = Clock::now();
    const Response limited = Get(nginx.Url(1, "/files/data.bin"));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(limited.body, content_);
    EXPECT_GE(elapsed, std::chrono::milliseconds(700));
    EXPECT_EQ(Get(nginx.Url(0, "/files/data.bin")).body, content_);
}

TEST_F(NginxServerTest, DestructionStopsEveryProcessAndFreesThePorts) {
    std::vector<std::uint16_t> ports;
    Client connected;
    {
        NginxServer nginx({.root = root_.path(), .ports = 2, .workerProcesses = 2});
        ports = nginx.Ports();
        // A client still connected at the end must not keep nginx alive.
        ASSERT_EQ(Get(connected, nginx.Url(0, "/files/data.bin"), "0-9").status, 206);
    }
    for (std::uint16_t port : ports) {
        const Response refused = Get("http://127.0.0.1:" + std::to_string(port) + "/files/data.bin");
        EXPECT_EQ(refused.result, CURLE_COULDNT_CONNECT) << "port " << port << " still answers";
    }
}

}  // namespace
}  // namespace qelt::test

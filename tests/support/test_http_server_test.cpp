#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace qelt::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

struct RawResponse {
    int status = 0;
    http::fields headers;
    std::string body;

    std::string Header(http::field name) const { return std::string(headers[name]); }
};

// A client independent of the code under test: raw bytes out, Beast's parser in.
class RawClient {
public:
    explicit RawClient(std::uint16_t port) {
        socket_.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    }

    void SendRaw(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }

    RawResponse Get(const std::string& target, const std::string& extraHeaders = {}) {
        SendRaw("GET " + target + " HTTP/1.1\r\nHost: test\r\n" + extraHeaders + "\r\n");
        return Read();
    }

    RawResponse Read(bool headOnly = false) {
        http::response_parser<http::string_body> parser;
        parser.body_limit(1 << 30);
        parser.skip(headOnly);
        http::read(socket_, buffer_, parser);
        auto message = parser.release();
        RawResponse response;
        response.status = static_cast<int>(message.result_int());
        for (const auto& field : message)
            response.headers.insert(field.name_string(), field.value());
        response.body = std::move(message.body());
        return response;
    }

    // Everything until the server closes (what is left in the parser's buffer included).
    std::string ReadToEnd() {
        std::string data(static_cast<const char*>(buffer_.data().data()), buffer_.size());
        boost::system::error_code error;
        char block[4096];
        while (true) {
            const std::size_t n = socket_.read_some(asio::buffer(block), error);
            if (error) break;
            data.append(block, n);
        }
        return data;
    }

private:
    asio::io_context io_;
    tcp::socket socket_{io_};
    beast::flat_buffer buffer_;
};

class TestHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override { server_.AddFile("/file", content_); }

    TestHttpServer server_;
    const std::string content_ = MakeTestContent(1000);
};

TEST_F(TestHttpServerTest, ServesWholeFileAndRecordsTheRequest) {
    RawClient client(server_.Port());
    const auto response = client.Get("/file?x=1", "X-Probe: yes\r\n");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, content_);
    EXPECT_EQ(response.Header(http::field::accept_ranges), "bytes");

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "GET /file?x=1 HTTP/1.1");
    EXPECT_EQ(requests[0].path, "/file");
    EXPECT_EQ(requests[0].Header("x-probe"), "yes");
    EXPECT_FALSE(requests[0].Header("Range").has_value());
    EXPECT_EQ(requests[0].number, 1u);
    EXPECT_EQ(requests[0].connection, 1u);
}

TEST_F(TestHttpServerTest, AnswersSingleRangesWith206AndContentRange) {
    RawClient client(server_.Port());
    auto response = client.Get("/file", "Range: bytes=100-199\r\n");
    EXPECT_EQ(response.status, 206);
    EXPECT_EQ(response.Header(http::field::content_range), "bytes 100-199/1000");
    EXPECT_EQ(response.body, content_.substr(100, 100));

    response = client.Get("/file", "Range: bytes=990-\r\n");
    EXPECT_EQ(response.Header(http::field::content_range), "bytes 990-999/1000");
    EXPECT_EQ(response.body, content_.substr(990));

    response = client.Get("/file", "Range: bytes=-5\r\n");
    EXPECT_EQ(response.Header(http::field::content_range), "bytes 995-999/1000");

    response = client.Get("/file", "Range: bytes=900-5000\r\n");
    EXPECT_EQ(response.Header(http::field::content_range), "bytes 900-999/1000");
    EXPECT_EQ(response.body.size(), 100u);

    response = client.Get("/file", "Range: bytes=900-18446744073709551615\r\n");
    EXPECT_EQ(response.Header(http::field::content_range), "bytes 900-999/1000");
}

TEST_F(TestHttpServerTest, RangePastTheEndIs416AndSeveralRangesAreIgnored) {
    RawClient client(server_.Port());
    auto response = client.Get("/file", "Range: bytes=1000-1100\r\n");
    EXPECT_EQ(response.status, 416);
    EXPECT_EQ(response.Header(http::field::content_range), "bytes */1000");

    response = client.Get("/file", "Range: bytes=0-1,5-6\r\n");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, content_);

    response = client.Get("/file", "Range: bytes=9-3\r\n");
    EXPECT_EQ(response.status, 200);
}

TEST_F(TestHttpServerTest, KeepAliveServesSeveralRequestsOnOneConnection) {
    RawClient client(server_.Port());
    client.Get("/file");
    client.Get("/file", "Range: bytes=0-0\r\n");
    EXPECT_EQ(client.Get("/missing").status, 404);
    RawClient other(server_.Port());
    other.Get("/file");

    EXPECT_EQ(server_.ConnectionCount(), 2u);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].connection, 1u);
    EXPECT_EQ(requests[3].connection, 2u);
}

TEST_F(TestHttpServerTest, ServesAFolderWithoutLeavingIt) {
    TempDir dir;
    std::filesystem::create_directories(dir / "root" / "sub dir");
    std::ofstream(dir / "root" / "sub dir" / "a.bin", std::ios::binary) << "folder bytes";
    std::ofstream(dir / "secret") << "outside";
    server_.ServeFolder(dir / "root");

    RawClient client(server_.Port());
    auto response = client.Get("/sub%20dir/a.bin", "Range: bytes=7-\r\n");
    EXPECT_EQ(response.status, 206);
    EXPECT_EQ(response.body, "bytes");
    EXPECT_EQ(client.Get("/sub%20dir/../../secret").status, 404);
    EXPECT_EQ(client.Get("/file").body, content_);  // memory files first
}

TEST_F(TestHttpServerTest, PostBodyIsRecordedAndExpectContinueAnswered) {
    RawClient client(server_.Port());
    client.SendRaw(
        "POST /events HTTP/1.1\r\nHost: t\r\nContent-Type: application/json\r\nContent-Length: 7\r\n"
        "Expect: 100-continue\r\n\r\n");
    const auto interim = client.Read(true);
    EXPECT_EQ(interim.status, 100);
    client.SendRaw("{\"a\":1}");
    const auto response = client.Read();
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "");
    ASSERT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(server_.Requests()[0].body, "{\"a\":1}");
    EXPECT_EQ(server_.Requests()[0].method, "POST");
}

TEST_F(TestHttpServerTest, FaultsByPathCountAndByRequestNumber) {
    HttpFault unavailable;
    unavailable.status = 503;
    server_.SetFault("/file", unavailable, 2);
    HttpFault notFound;
    notFound.status = 404;
    server_.SetFaultForRequest(4, notFound);

    RawClient client(server_.Port());
    EXPECT_EQ(client.Get("/file").status, 503);
    EXPECT_EQ(client.Get("/file").status, 503);
    EXPECT_EQ(client.Get("/file").status, 200);
    EXPECT_EQ(client.Get("/file").status, 404);
    EXPECT_EQ(client.Get("/file").status, 200);
}

TEST_F(TestHttpServerTest, IgnoredRangeCorruptionAndRedirect) {
    HttpFault ignore;
    ignore.ignoreRange = true;
    server_.SetFault("/file", ignore, 1);
    RawClient client(server_.Port());
    auto response = client.Get("/file", "Range: bytes=10-19\r\n");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, content_);

    HttpFault corrupt;
    corrupt.corruptOffset = 3;
    corrupt.corruptLength = 2;
    server_.SetFault("/file", corrupt, 1);
    response = client.Get("/file", "Range: bytes=10-19\r\n");
    std::string expected = content_.substr(10, 10);
    expected[3] = static_cast<char>(~expected[3]);
    expected[4] = static_cast<char>(~expected[4]);
    EXPECT_EQ(response.body, expected);

    HttpFault redirect;
    redirect.redirectTo = "/elsewhere";
    server_.SetFault("/old", redirect);
    response = client.Get("/old");
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.Header(http::field::location), "/elsewhere");
}

TEST_F(TestHttpServerTest, CloseAfterBytesCutsTheBody) {
    HttpFault cut;
    cut.closeAfterBytes = 300;
    server_.SetFault("/file", cut);
    RawClient client(server_.Port());
    client.SendRaw("GET /file HTTP/1.1\r\nHost: t\r\n\r\n");
    const std::string raw = client.ReadToEnd();
    const auto headerEnd = raw.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    EXPECT_NE(raw.find("Content-Length: 1000"), std::string::npos);
    EXPECT_EQ(raw.substr(headerEnd + 4), content_.substr(0, 300));
}

TEST_F(TestHttpServerTest, StallPausesTheBodyAndGoesOn) {
    HttpFault stall;
    stall.stallAfterBytes = 10;
    stall.stall = std::chrono::milliseconds(300);
    server_.SetFault("/file", stall);
    RawClient client(server_.Port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get("/file").body, content_);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST_F(TestHttpServerTest, RefusingConnectionsAndAcceptingAgain) {
    server_.SetRefusingConnections(true);
    EXPECT_THROW(RawClient client(server_.Port()), boost::system::system_error);
    server_.SetRefusingConnections(false);
    RawClient client(server_.Port());
    EXPECT_EQ(client.Get("/file").status, 200);
}

TEST_F(TestHttpServerTest, ProxyModeForwardsAbsoluteFormToALoopbackOrigin) {
    TestHttpServer proxy;
    proxy.SetProxyMode(true);
    RawClient client(proxy.Port());
    auto response = client.Get(server_.Url("/file"), "Range: bytes=0-9\r\n");
    EXPECT_EQ(response.status, 206);
    EXPECT_EQ(response.body, content_.substr(0, 10));
    ASSERT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, server_.Url("/file"));
    ASSERT_EQ(server_.RequestCount(), 1u);
    EXPECT_EQ(server_.Requests()[0].target, "/file");

    EXPECT_EQ(client.Get("http://example.invalid/file").status, 502);
    EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST(TestHttpServerStop, DestructorDoesNotWaitForAStalledClient) {
    const auto start = std::chrono::steady_clock::now();
    {
        TestHttpServer server;
        server.AddFile("/file", "x");
        HttpFault stall;
        stall.delay = std::chrono::seconds(60);
        server.SetFault("/file", stall);
        RawClient client(server.Port());
        client.SendRaw("GET /file HTTP/1.1\r\nHost: t\r\n\r\n");
        ASSERT_TRUE(server.WaitForRequestCount(1, std::chrono::seconds(5)));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace qelt::test

#include "http/curl_http_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

using test::HttpFault;
using test::TestHttpServer;
using namespace std::chrono_literals;

// Collects the body and lets another thread wait for the first bytes.
class RecordingWriter : public HttpWriteCallback {
public:
    HttpRequestStatus Write(const char* data, std::size_t length) override {
        {
            std::lock_guard lock(mutex_);
            data_.append(data, length);
        }
        if (!firstBytes_.exchange(true)) firstBytesArrived_.set_value();
        HttpRequestStatus answer;
        answer.State = HttpRequestResult::Succeeded;
        answer.BytesReceived = length;
        return answer;
    }
    void WaitForFirstBytes() { ASSERT_EQ(firstBytesFuture_.wait_for(10s), std::future_status::ready); }
    std::string Data() {
        std::lock_guard lock(mutex_);
        return data_;
    }

private:
    std::mutex mutex_;
    std::string data_;
    std::atomic<bool> firstBytes_{false};
    std::promise<void> firstBytesArrived_;
    std::future<void> firstBytesFuture_ = firstBytesArrived_.get_future();
};

// Accepts blocks until `acceptBytes` have arrived, then answers with `failure`.
class FailingWriter : public HttpWriteCallback {
public:
    FailingWriter(std::uint64_t acceptBytes, HttpRequestResult failure, std::string message)
        : acceptBytes_(acceptBytes), failure_(failure), message_(std::move(message)) {}

    HttpRequestStatus Write(const char*, std::size_t length) override {
        ++calls_;
        HttpRequestStatus answer;
        if (accepted_ >= acceptBytes_) {
            answer.State = failure_;
            answer.Message = message_;
            return answer;
        }
        accepted_ += length;
        answer.State = HttpRequestResult::Succeeded;
        answer.BytesReceived = length;
        return answer;
    }
    int Calls() const { return calls_; }

private:
    std::uint64_t acceptBytes_;
    HttpRequestResult failure_;
    std::string message_;
    std::uint64_t accepted_ = 0;
    int calls_ = 0;
};

// Answers Succeeded but miscounts every block by `skew` bytes.
class MiscountingWriter : public HttpWriteCallback {
public:
    explicit MiscountingWriter(std::int64_t skew) : skew_(skew) {}
    HttpRequestStatus Write(const char*, std::size_t length) override {
        ++calls_;
        HttpRequestStatus answer;
        answer.State = HttpRequestResult::Succeeded;
        answer.BytesReceived = static_cast<std::uint64_t>(static_cast<std::int64_t>(length) + skew_);
        return answer;
    }
    int Calls() const { return calls_; }

private:
    std::int64_t skew_;
    int calls_ = 0;
};

class ThrowingWriter : public HttpWriteCallback {
public:
    HttpRequestStatus Write(const char*, std::size_t) override { throw std::runtime_error("disk on fire"); }
};

class CurlHttpRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.AddFile("/file", content_);
        server_.AddFile("/empty", "");
    }

    HttpRequestParams Params(const std::string& path) { return HttpRequestParams(server_.Url(path), &writer_); }

    HttpRequestStatus Fetch(const HttpRequestParams& params, const std::string& proxy = "") {
        CurlHttpRequest request(params, proxy);
        return request.Perform();
    }

    test::RecordedRequest OnlyRequest() {
        const auto requests = server_.Requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? test::RecordedRequest{} : requests.back();
    }

    TestHttpServer server_;
    const std::string content_ = test::MakeTestContent(64 * 1024);
    std::ostringstream body_;
    HttpStringstreamWriter writer_{body_};
};

TEST_F(CurlHttpRequestTest, DefaultParamsFetchTheWholeResourceWithoutRange) {
    const auto status = Fetch(Params("/file"));
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(status.BytesReceived, content_.size());
    EXPECT_EQ(status.ResponseCode, 200);
    EXPECT_EQ(status.PrimaryIp, "127.0.0.1");
    EXPECT_EQ(status.Message, "");
    EXPECT_EQ(body_.str(), content_);

    const auto request = OnlyRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_FALSE(request.Header("Range").has_value());
    EXPECT_FALSE(request.Header("Content-Type").has_value());
    EXPECT_EQ(request.Header("User-Agent"), "Orvane Quorvel TransferService 0.9");
}

TEST_F(CurlHttpRequestTest, RangeIsSentAsInclusiveDecimalBounds) {
    auto params = Params("/file");
    params.RangeEnd = 99;
    const auto status = Fetch(params);
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(status.ResponseCode, 206);
    EXPECT_EQ(status.BytesReceived, 100u);
    EXPECT_EQ(body_.str(), content_.substr(0, 100));
    EXPECT_EQ(OnlyRequest().Header("Range"), "bytes=0-99");
}

TEST_F(CurlHttpRequestTest, RangeToTheEndIsSentOpenEnded) {
    auto params = Params("/file");
    params.RangeStart = 100;
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);
    EXPECT_EQ(OnlyRequest().Header("Range"), "bytes=100-");
    EXPECT_EQ(body_.str(), content_.substr(100));
}

TEST_F(CurlHttpRequestTest, AcceptEncodingIsOfferedOnlyForWholeResources) {
    auto params = Params("/file");
    params.AcceptEncoding = "gzip";
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);
    params.RangeStart = 10;
    params.RangeEnd = 19;
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "gzip");
    EXPECT_FALSE(requests[1].Header("Accept-Encoding").has_value());
    EXPECT_EQ(requests[1].Header("Range"), "bytes=10-19");
}

TEST_F(CurlHttpRequestTest, GetIgnoresContentTypeAndPostSendsItWithTheBody) {
    auto params = Params("/events");
    params.ContentType = "application/json";
    params.Body = "ignored";
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::HttpClientError);  // GET of a path without content

    params.Method = 1;
    params.Body = std::string("{\"k\":\"v\"}\0tail", 14);
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);

    auto plain = Params("/events");
    plain.Method = 1;
    plain.Body = "a=1";
    EXPECT_EQ(Fetch(plain).State, HttpRequestResult::Succeeded);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].Header("Content-Type").has_value());
    EXPECT_EQ(requests[0].body, "");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/json");
    EXPECT_EQ(requests[1].body, params.Body);
    EXPECT_EQ(requests[2].Header("Content-Type"), "application/x-www-form-urlencoded");
}

TEST_F(CurlHttpRequestTest, EmptyBodySucceedsWithZeroBytes) {
    const auto status = Fetch(Params("/empty"));
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(status.BytesReceived, 0u);
    EXPECT_EQ(body_.str(), "");
}

TEST_F(CurlHttpRequestTest, HttpErrorStatusesAreClassifiedByCode) {
    auto status = Fetch(Params("/missing"));
    EXPECT_EQ(status.State, HttpRequestResult::HttpClientError);
    EXPECT_EQ(status.ResponseCode, 404);
    EXPECT_EQ(status.Message, "libcurl error 22 (HTTP 404)");
    EXPECT_EQ(status.BytesReceived, 0u);

    HttpFault unavailable;
    unavailable.status = 503;
    server_.SetFault("/file", unavailable);
    status = Fetch(Params("/file"));
    EXPECT_EQ(status.State, HttpRequestResult::HttpServerError);
    EXPECT_EQ(status.Message, "libcurl error 22 (HTTP 503)");

    auto past = Params("/empty");
    past.RangeEnd = 9;
    status = Fetch(past);
    EXPECT_EQ(status.State, HttpRequestResult::HttpClientError);
    EXPECT_EQ(status.ResponseCode, 416);
    EXPECT_TRUE(IsHttpError(status.State));
}

TEST_F(CurlHttpRequestTest, OneRedirectIsFollowedAndTwoAreTooMany) {
    HttpFault toFile;
    toFile.redirectTo = "/file";
    server_.SetFault("/once", toFile);
    auto status = Fetch(Params("/once"));
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(body_.str(), content_);
    EXPECT_EQ(server_.RequestCount(), 2u);

    HttpFault toOnce;
    toOnce.redirectTo = "/once";
    server_.SetFault("/twice", toOnce);
    status = Fetch(Params("/twice"));
    EXPECT_EQ(status.State, HttpRequestResult::OtherError);
    EXPECT_EQ(status.Message, "libcurl error 47 (HTTP 302)");
    EXPECT_EQ(server_.RequestCount(), 4u);  // /twice and /once; /file is not asked again
}

TEST_F(CurlHttpRequestTest, OnlyHttpSchemesAreAccepted) {
    test::TempDir dir;
    const auto secret = dir / "secret.txt";
    std::ofstream(secret) << "local secret";
    const std::string fileUrl = "file://" + secret.string();

    auto status = Fetch(HttpRequestParams(fileUrl, &writer_));
    EXPECT_EQ(status.State, HttpRequestResult::BadUrl);
    EXPECT_EQ(status.Message, "libcurl error 1 (HTTP 0)");

    HttpFault toLocal;
    toLocal.redirectTo = fileUrl;
    server_.SetFault("/sneaky", toLocal);
    status = Fetch(Params("/sneaky"));
    EXPECT_EQ(status.State, HttpRequestResult::BadUrl);
    EXPECT_EQ(body_.str().find("local secret"), std::string::npos);

    EXPECT_EQ(Fetch(HttpRequestParams("http://", &writer_)).State, HttpRequestResult::BadUrl);
}

TEST_F(CurlHttpRequestTest, RefusedConnectionIsConnectFailed) {
    server_.SetRefusingConnections(true);
    const auto status = Fetch(Params("/file"));
    EXPECT_EQ(status.State, HttpRequestResult::ConnectFailed);
    EXPECT_EQ(status.Message, "libcurl error 7 (HTTP 0)");
}

TEST_F(CurlHttpRequestTest, StallBeforeAnyResponseTimesOut) {
    HttpFault silent;
    silent.delay = 3s;
    server_.SetFault("/file", silent);
    auto params = Params("/file");
    params.Timeout = 1;
    const auto status = Fetch(params);
    EXPECT_EQ(status.State, HttpRequestResult::TimedOut);
    EXPECT_EQ(status.Message, "libcurl error 28 (HTTP 0)");
}

TEST_F(CurlHttpRequestTest, StallInTheBodyTimesOutAfterSomeBytes) {
    HttpFault stall;
    stall.stallAfterBytes = 1000;
    stall.stall = 3s;
    server_.SetFault("/file", stall);
    auto params = Params("/file");
    params.Timeout = 1;
    const auto status = Fetch(params);
    EXPECT_EQ(status.State, HttpRequestResult::TimedOut);
    EXPECT_EQ(status.BytesReceived, 1000u);
    EXPECT_EQ(status.Message, "libcurl error 28 (HTTP 200)");
}

TEST_F(CurlHttpRequestTest, LowSpeedAbortNeedsBothLimitAndTime) {
    server_.AddFile("/slow", test::MakeTestContent(6000));
    HttpFault trickle;
    trickle.bytesPerSecond = 4000;  // about 1.5 s for the file
    server_.SetFault("/slow", trickle);

    auto params = Params("/slow");
    params.Timeout = 10;
    params.LowSpeedLimit = 100000;
    params.LowSpeedTime = 1;
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::TimedOut);

    params.LowSpeedTime = 0;
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);

    params.LowSpeedLimit = 0;
    params.LowSpeedTime = 1;
    EXPECT_EQ(Fetch(params).State, HttpRequestResult::Succeeded);
}

TEST_F(CurlHttpRequestTest, ConnectionClosedInTheBodyIsRangeFailed) {
    HttpFault cut;
    cut.closeAfterBytes = 5000;
    server_.SetFault("/file", cut);
    const auto status = Fetch(Params("/file"));
    EXPECT_EQ(status.State, HttpRequestResult::RangeFailed);
    EXPECT_EQ(status.BytesReceived, 5000u);
    EXPECT_EQ(status.Message, "libcurl error 18 (HTTP 200)");
}

TEST_F(CurlHttpRequestTest, WriterRangeFailureIsCarriedWithItsMessage) {
    FailingWriter writer(1000, HttpRequestResult::RangeFailed, "range does not fit the chunk");
    server_.AddFile("/big", test::MakeTestContent(1 << 20));
    HttpRequestParams params(server_.Url("/big"), &writer);
    const auto status = Fetch(params);
    EXPECT_EQ(status.State, HttpRequestResult::RangeFailed);
    EXPECT_EQ(status.Message, "range does not fit the chunk");
    EXPECT_GE(status.BytesReceived, 1000u);
    EXPECT_LT(status.BytesReceived, 1u << 20);
    EXPECT_EQ(status.ResponseCode, 200);
}

TEST_F(CurlHttpRequestTest, OtherWriterFailuresBecomeWriteFailedOrOutOfMemory) {
    server_.AddFile("/big", test::MakeTestContent(1 << 20));
    FailingWriter refusing(0, HttpRequestResult::ConnectFailed, "no space");
    auto status = Fetch(HttpRequestParams(server_.Url("/big"), &refusing));
    EXPECT_EQ(status.State, HttpRequestResult::WriteFailed);
    EXPECT_EQ(status.Message, "no space");
    EXPECT_EQ(refusing.Calls(), 1);  // the transfer stopped at the first refusal

    FailingWriter exhausted(0, HttpRequestResult::OutOfMemory, "no memory");
    EXPECT_EQ(Fetch(HttpRequestParams(server_.Url("/big"), &exhausted)).State, HttpRequestResult::OutOfMemory);

    ThrowingWriter throwing;
    status = Fetch(HttpRequestParams(server_.Url("/big"), &throwing));
    EXPECT_EQ(status.State, HttpRequestResult::WriteFailed);
    EXPECT_EQ(status.Message, "disk on fire");
}

TEST_F(CurlHttpRequestTest, WriterMiscountingABlockStopsTheTransfer) {
    server_.AddFile("/big", test::MakeTestContent(1 << 20));
    // Taking fewer bytes than offered, or claiming more than were offered, both end the transfer at once.
    for (std::int64_t skew : {-1, 1}) {
        SCOPED_TRACE(skew);
        MiscountingWriter writer(skew);
        const auto status = Fetch(HttpRequestParams(server_.Url("/big"), &writer));
        EXPECT_EQ(status.State, HttpRequestResult::WriteFailed);
        EXPECT_EQ(status.Message, "libcurl error 23 (HTTP 200)");
        EXPECT_EQ(writer.Calls(), 1);
    }
}

TEST_F(CurlHttpRequestTest, AnOversizedResponseHeaderIsTheServersFaultNotOutOfMemory) {
    HttpFault oneLine;  // far over libcurl's limit for one header
    oneLine.headerPaddingBytes = 1 << 20;
    HttpFault manyLines;  // each line short, together endless
    manyLines.headerPaddingBytes = 8 << 20;
    manyLines.headerPaddingLineBytes = 1000;
    for (const HttpFault& fault : {oneLine, manyLines}) {
        server_.SetFault("/file", fault, 1);
        const HttpRequestStatus status = Fetch(Params("/file"));
        EXPECT_EQ(status.State, HttpRequestResult::OtherError) << fault.headerPaddingLineBytes;
        EXPECT_NE(status.Message.find("header"), std::string::npos) << status.Message;
        EXPECT_EQ(body_.str(), "");
    }
    EXPECT_EQ(Fetch(Params("/file")).State, HttpRequestResult::Succeeded) << "the fault was for one request";
}

TEST_F(CurlHttpRequestTest, CancelBeforePerformNeverTouchesTheNetwork) {
    CurlHttpRequest request(Params("/file"), "");
    request.Cancel();
    const auto status = request.Perform();
    EXPECT_EQ(status.State, HttpRequestResult::Cancelled);
    EXPECT_EQ(status.BytesReceived, 0u);

    // A later request is the first the server ever sees, so the cancelled one made no connection.
    EXPECT_EQ(Fetch(Params("/empty")).State, HttpRequestResult::Succeeded);
    EXPECT_EQ(server_.ConnectionCount(), 1u);
    EXPECT_EQ(OnlyRequest().path, "/empty");
}

TEST_F(CurlHttpRequestTest, CancelAfterSuccessKeepsSucceeded) {
    CurlHttpRequest request(Params("/file"), "");
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Succeeded);
    request.Cancel();
    EXPECT_EQ(request.GetStatus().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Succeeded);
    EXPECT_EQ(server_.RequestCount(), 1u);  // a finished request does not run again
}

TEST_F(CurlHttpRequestTest, CancelFromAnotherThreadStopsASlowBody) {
    HttpFault trickle;
    trickle.bytesPerSecond = 2000;  // the whole file would take half a minute
    server_.SetFault("/file", trickle);
    RecordingWriter writer;
    HttpRequestParams params(server_.Url("/file"), &writer);
    params.Timeout = 20;
    CurlHttpRequest request(params, "");

    auto performed = std::async(std::launch::async, [&] { return request.Perform(); });
    writer.WaitForFirstBytes();
    EXPECT_EQ(request.GetStatus().State, HttpRequestResult::Running);
    request.Cancel();
    ASSERT_EQ(performed.wait_for(5s), std::future_status::ready);
    const auto status = performed.get();
    EXPECT_EQ(status.State, HttpRequestResult::Cancelled);
    EXPECT_GT(status.BytesReceived, 0u);
    EXPECT_LT(status.BytesReceived, content_.size());
    EXPECT_EQ(status.Message, "");
}

TEST_F(CurlHttpRequestTest, ResetIsRefusedWhilePerformingAndRearmsAfterwards) {
    HttpFault trickle;
    trickle.bytesPerSecond = 2000;
    server_.SetFault("/file", trickle, 1);
    RecordingWriter writer;
    HttpRequestParams params(server_.Url("/file"), &writer);
    params.Timeout = 20;
    CurlHttpRequest request(params, "");

    auto performed = std::async(std::launch::async, [&] { return request.Perform(); });
    writer.WaitForFirstBytes();
    EXPECT_FALSE(request.Reset(Params("/empty"), ""));
    EXPECT_EQ(request.GetStatus().State, HttpRequestResult::Running);
    // A second Perform while the first runs returns without starting anything.
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Running);
    request.Cancel();
    ASSERT_EQ(performed.wait_for(5s), std::future_status::ready);
    performed.get();

    ASSERT_TRUE(request.Reset(Params("/file"), ""));
    auto status = request.GetStatus();
    EXPECT_EQ(status.State, HttpRequestResult::Idle);
    EXPECT_EQ(status.BytesReceived, 0u);
    EXPECT_EQ(status.ResponseCode, 0);
    EXPECT_EQ(status.PrimaryIp, "");
    EXPECT_EQ(status.Message, "");

    status = request.Perform();
    EXPECT_EQ(status.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(body_.str(), content_);
    EXPECT_EQ(server_.RequestCount(), 2u);
}

TEST_F(CurlHttpRequestTest, ResetKeepsTheConnectionAndDropsOldOptions) {
    auto ranged = Params("/file");
    ranged.RangeStart = 5;
    ranged.RangeEnd = 9;
    ranged.Method = 1;
    ranged.Body = "x";
    CurlHttpRequest request(ranged, "");
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Succeeded);
    ASSERT_TRUE(request.Reset(Params("/file"), ""));
    EXPECT_EQ(request.Perform().State, HttpRequestResult::Succeeded);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_FALSE(requests[1].Header("Range").has_value());
    EXPECT_FALSE(requests[1].Header("Content-Type").has_value());
    EXPECT_EQ(requests[0].connection, requests[1].connection);
    EXPECT_EQ(server_.ConnectionCount(), 1u);
}

TEST(HttpStringstreamWriterTest, ReportsBytesAndStreamFailures) {
    std::ostringstream stream;
    HttpStringstreamWriter writer(stream);
    auto answer = writer.Write("abc", 3);
    EXPECT_EQ(answer.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(answer.BytesReceived, 3u);
    answer = writer.Write(nullptr, 0);
    EXPECT_EQ(answer.State, HttpRequestResult::Succeeded);
    EXPECT_EQ(answer.BytesReceived, 0u);
    EXPECT_EQ(stream.str(), "abc");

    stream.setstate(std::ios::badbit);
    answer = writer.Write("d", 1);
    EXPECT_EQ(answer.State, HttpRequestResult::WriteFailed);
    EXPECT_EQ(answer.BytesReceived, 0u);
    EXPECT_EQ(answer.Message, "");
}

TEST(HttpResultFromCurlCodeTest, MapsEveryDocumentedCode) {
    using R = HttpRequestResult;
    const std::pair<int, R> cases[] = {
        {0, R::Succeeded},          {1, R::BadUrl},        {3, R::BadUrl},        {4, R::BadUrl},
        {5, R::ResolveFailed},      {6, R::ResolveFailed}, {7, R::ConnectFailed}, {55, R::SendReceiveFailed},
        {56, R::SendReceiveFailed}, {23, R::WriteFailed},  {18, R::RangeFailed},  {33, R::RangeFailed},
        {28, R::TimedOut},          {27, R::OutOfMemory},  {47, R::OtherError},   {35, R::OtherError},
    };
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(HttpResultFromCurlCode(code, 0), expected) << code;
    for (int code : {9, 22, 78}) {
        EXPECT_EQ(HttpResultFromCurlCode(code, 499), R::HttpClientError);
        EXPECT_EQ(HttpResultFromCurlCode(code, 500), R::HttpServerError);
    }
}

}  // namespace
}  // namespace qelt

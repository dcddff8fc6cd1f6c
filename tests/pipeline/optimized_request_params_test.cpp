#include "pipeline/optimized_request_params.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "http/http_request.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_manifest.h"
#include "pipeline/status_data.h"
#include "tests/support/test_package.h"

namespace qelt {
namespace {

using test::NodeListOf;

std::shared_ptr<TransferSharedMapData> Chunk(std::uint64_t length) {
    auto file = std::make_shared<TransferSharedFileData>("data/file.bin", length);
    return std::make_shared<TransferSharedMapData>(file, 0, length - 1, 0u, nullptr);
}

TEST(OptimizedRequestParamsTest, ExcludingTheLastCandidateRefillsTheList) {
    auto nodes = NodeListOf({{"a", "a.test"}, {"b", "b.test"}});
    OptimizedRequestParams request(nodes, TransferParams{}, Chunk(10));
    request.SelectedNode = nodes->GetNodes()[0];
    request.ExcludeSelectedNode();
    ASSERT_EQ(request.candidates.size(), 1u);
    EXPECT_EQ(request.candidates[0]->GetNodeId(), "b");
    request.SelectedNode = nodes->GetNodes()[1];
    request.ExcludeSelectedNode();
    ASSERT_EQ(request.candidates.size(), 2u);
    EXPECT_EQ(request.candidates[0]->GetNodeId(), "a");
}

TEST(OptimizedRequestParamsTest, UrlAppendsIdsAndFilePathToTheNodePath) {
    auto nodes = NodeListOf({{"a", "mirror.test:8080"}});
    TransferParams params;
    params.partnerId = "p1";
    params.packageId = "k2";
    params.versionId = "v3";
    auto file = std::make_shared<TransferSharedFileData>("//bin/run file.exe", 100);
    OptimizedRequestParams request(nodes, params,
                                   std::make_shared<TransferSharedMapData>(file, 10, 99, 0u, nullptr));
    EXPECT_THROW(request.ToUrl(), std::invalid_argument);
    request.SelectedNode = nodes->GetNodes()[0];
    EXPECT_EQ(request.ToUrl(), "http://mirror.test:8080/packages/p1/k2/v3/bin/run%20file.exe");
    request.connectTimeout = 4;
    request.timeout = 20;
    request.lowSpeedLimit = 50;
    request.lowSpeedTime = 6;
    const auto http = request.ToHttpRequestParams(nullptr);
    EXPECT_EQ(http.RangeStart, 10u);
    EXPECT_EQ(http.RangeEnd, 99u);
    EXPECT_EQ(http.ConnectTimeout, 4);
    EXPECT_EQ(http.Timeout, 20);
    EXPECT_EQ(http.LowSpeedLimit, 50);
    EXPECT_EQ(http.LowSpeedTime, 6);
    EXPECT_EQ(http.Method, 0);
}

TEST(OptimizedRequestParamsTest, UrlKeepsEveryFileNameInThePath) {
    auto nodes = NodeListOf({{"a", "mirror.test"}});
    auto url = [&](const std::string& filePath) {
        TransferParams params;
        params.partnerId = "p1";
        params.packageId = "k2";
        params.versionId = "v3";
        auto file = std::make_shared<TransferSharedFileData>(filePath, 100);
        OptimizedRequestParams request(nodes, params,
                                       std::make_shared<TransferSharedMapData>(file, 0, 99, 0u, nullptr));
        request.SelectedNode = nodes->GetNodes()[0];
        return request.ToUrl();
    };
    const std::string base = "http://mirror.test/packages/p1/k2/v3/";
    EXPECT_EQ(url("docs/Readme #1.txt"), base + "docs/Readme%20%231.txt") << "not a fragment";
    EXPECT_EQ(url("what?.txt"), base + "what%3F.txt") << "not a query";
    EXPECT_EQ(url("100%.txt"), base + "100%25.txt") << "a stray percent sign must not throw";
    EXPECT_EQ(url("a%20b.txt"), base + "a%2520b.txt") << "a literal name, not an escape";
    EXPECT_EQ(url("c:drive/x.txt"), base + "c:drive/x.txt") << "not a scheme";
    EXPECT_EQ(url("d/\xC3\xA9t\xC3\xA9.txt"), base + "d/%C3%A9t%C3%A9.txt");
    EXPECT_EQ(url("a/./b.txt"), base + "a/b.txt");
}

}  // namespace
}  // namespace qelt

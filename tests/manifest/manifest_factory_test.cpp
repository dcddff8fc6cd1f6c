#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

#include "http/http_proxy.h"
#include "http/http_request.h"
#include "http/http_request_factory.h"
#include "http/http_session.h"
#include "manifest/file_manifest.h"
#include "manifest/http_manifest_source.h"
#include "manifest/manifest_exception.h"
#include "manifest/node_list_manifest.h"
#include "manifest/node_list_manifest_factory.h"
#include "manifest/node_manifest.h"
#include "manifest/package_key.h"
#include "manifest/package_manifest.h"
#include "manifest/package_manifest_factory.h"
#include "tests/manifest/manifest_test_documents.h"
#include "tests/support/peak_memory.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

using namespace std::chrono_literals;
using test::FileElement;
using test::HttpFault;
using test::TestHttpServer;

std::string Package(const std::string& id, const std::string& versionId) {
    return "<package><id>" + id + "</id><name>N</name><partnerId>p</partnerId><versionId>" + versionId +
           "</versionId><files>" + FileElement("a.bin", "4", "5", "0000000100000002") + "</files></package>";
}

const char kNodeList[] =
    "<ArrayOfNodeInfo><NodeInfo><NodeId>1</NodeId><Host>n1.example</Host></NodeInfo>"
    "<NodeInfo NodeId=\"2\" Host=\"n2.example:81\" Path=\"mirror\"/></ArrayOfNodeInfo>";

class ManifestFactoryTest : public ::testing::Test {
protected:
    std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
    std::string LastRequestLine() const {
        const auto requests = server_.Requests();
        return requests.empty() ? std::string() : requests.back().RequestLine();
    }

    TestHttpServer server_;
    EmptyHttpProxyFactory proxies_;
    CurlHttpRequestFactory requests_{&proxies_};
    XmlHttpPackageManifestFactory packages_{Host(), &requests_, 2, 3};
    XmlHttpNodeListManifestFactory nodes_{Host(), &requests_, 2, 3};
};

TEST(PackageKeyTest, MakeAndSplit) {
    EXPECT_EQ(MakeKey("pkg", ""), "pkg");
    EXPECT_EQ(MakeKey("pkg", "7"), "pkg/7");
    EXPECT_EQ(SplitKey("pkg"), std::make_pair(std::string("pkg"), std::string()));
    EXPECT_EQ(SplitKey("pkg/7"), std::make_pair(std::string("pkg"), std::string("7")));
    EXPECT_EQ(SplitKey("pkg/7/beta"), std::make_pair(std::string("pkg"), std::string("7/beta")));
    EXPECT_EQ(SplitKey("pkg/"), std::make_pair(std::string("pkg"), std::string()));
    EXPECT_EQ(SplitKey(""), std::make_pair(std::string(), std::string()));
}

TEST_F(ManifestFactoryTest, UrlFormsReachTheHost) {
    EXPECT_EQ(packages_.GetUrl("pkg"), "http://" + Host() + "/manifests/pkg/current.xml");
    EXPECT_EQ(packages_.GetUrl("pkg/12"), "http://" + Host() + "/manifests/pkg/12.xml");
    EXPECT_EQ(nodes_.GetUrl("partner"), "http://" + Host() + "/nodes/partner.xml");

    server_.AddFile("/manifests/pkg/current.xml", Package("pkg", "12"));
    server_.AddFile("/manifests/pkg/12.xml", Package("pkg", "12"));
    server_.AddFile("/nodes/partner.xml", kNodeList);
    packages_.Create("pkg");
    EXPECT_EQ(LastRequestLine(), "GET /manifests/pkg/current.xml HTTP/1.1");
    packages_.Create("pkg/12");
    EXPECT_EQ(LastRequestLine(), "GET /manifests/pkg/12.xml HTTP/1.1");
    const auto list = nodes_.Create("partner");
    EXPECT_EQ(LastRequestLine(), "GET /nodes/partner.xml HTTP/1.1");
    ASSERT_EQ(list->GetNodes().size(), 2u);
    EXPECT_EQ(list->GetNodes()[1]->GetHost(), "n2.example:81");
    EXPECT_EQ(list->GetNodes()[1]->GetPath(), "/mirror/");
}

TEST_F(ManifestFactoryTest, UrlPartsArePercentEncodedButNotChecked) {
    EXPECT_EQ(packages_.GetUrl("a b"), "http://" + Host() + "/manifests/a%20b/current.xml");
    EXPECT_EQ(packages_.GetUrl("a<b>/\xc3\xa9"), "http://" + Host() + "/manifests/a%3Cb%3E/%C3%A9.xml");
    EXPECT_THROW(packages_.GetUrl("bad%zz"), ManifestLocatorException);
    EXPECT_EQ(nodes_.GetUrl("../x"), "http://" + Host() + "/nodes/../x.xml");
    XmlHttpPackageManifestFactory badHost("host:notaport", &requests_, 2, 3);
    EXPECT_THROW(badHost.GetUrl("pkg"), ManifestLocatorException);
    EXPECT_THROW(badHost.Create("pkg"), ManifestLocatorException);
}

TEST_F(ManifestFactoryTest, CurrentVersionIsAcceptedWhateverItsVersion) {
    server_.AddFile("/manifests/pkg/current.xml", Package("pkg", "99"));
    const auto package = packages_.Create("pkg");
    EXPECT_EQ(package->GetId(), "pkg");
    EXPECT_EQ(package->GetVersionId(), "99");
    EXPECT_EQ(package->GetFiles().size(), 1u);
}

TEST_F(ManifestFactoryTest, APackageThatDoesNotAnswerTheKeyIsALocatorError) {
    server_.AddFile("/manifests/pkg/12.xml", Package("pkg", "13"));
    server_.AddFile("/manifests/pkg/current.xml", Package("other", "1"));
    server_.AddFile("/manifests/PKG/1.xml", Package("pkg", "1"));
    EXPECT_THROW(packages_.Create("pkg/12"), ManifestLocatorException);
    EXPECT_THROW(packages_.Create("pkg"), ManifestLocatorException);
    EXPECT_THROW(packages_.Create("PKG/1"), ManifestLocatorException);
}

TEST_F(ManifestFactoryTest, MatchesComparesIdAndRequestedVersionExactly) {
    StandardPackageManifest package;
    package.Deserialize(test::ReadXml(Package("pkg", "7/beta")));
    EXPECT_TRUE(packages_.Matches(package, "pkg"));
    EXPECT_TRUE(packages_.Matches(package, "pkg/7/beta"));
    EXPECT_FALSE(packages_.Matches(package, "pkg/7"));
    EXPECT_FALSE(packages_.Matches(package, "Pkg"));
    EXPECT_FALSE(packages_.Matches(package, "pk"));
}

TEST_F(ManifestFactoryTest, HttpStatusesMapToLocatorAndStreamErrors) {
    try {
        packages_.Create("missing");
        FAIL() << "no exception";
    } catch (const ManifestLocatorException& e) {
        EXPECT_NE(std::string(e.what()).find("HTTP 404"), std::string::npos) << e.what();
    }
    server_.AddFile("/manifests/busy/current.xml", Package("busy", "1"));
    HttpFault unavailable;
    unavailable.status = 503;
    server_.SetFault("/manifests/busy/current.xml", unavailable);
    try {
        packages_.Create("busy");
        FAIL() << "no exception";
    } catch (const ManifestStreamException& e) {
        EXPECT_NE(std::string(e.what()).find("HTTP 503"), std::string::npos) << e.what();
    }
    HttpFault forbidden;
    forbidden.status = 403;
    server_.SetFault("/nodes/p.xml", forbidden);
    server_.AddFile("/nodes/p.xml", kNodeList);
    EXPECT_THROW(nodes_.Create("p"), ManifestLocatorException);
}

TEST_F(ManifestFactoryTest, AStallPastTheTimeoutIsAStreamError) {
    XmlHttpPackageManifestFactory impatient(Host(), &requests_, 1, 1);
    server_.AddFile("/manifests/slow/current.xml", Package("slow", "1"));
    HttpFault stall;
    stall.stallAfterBytes = 20;
    stall.stall = 3s;
    server_.SetFault("/manifests/slow/current.xml", stall);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(impatient.Create("slow"), ManifestStreamException);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2900ms);
}

TEST_F(ManifestFactoryTest, ARefusedConnectionIsAStreamError) {
    server_.SetRefusingConnections(true);
    EXPECT_THROW(nodes_.Create("partner"), ManifestStreamException);
    EXPECT_THROW(packages_.Create("pkg"), ManifestStreamException);
}

TEST_F(ManifestFactoryTest, BodiesThatAreNotADocumentAreParseErrors) {
    const std::pair<const char*, std::string> bodies[] = {
        {"empty", ""},
        {"text", "not xml at all"},
        {"cut", Package("cut", "1").substr(0, 60)},
        {"shape", "<package><id>shape</id></package>"},
        {"html", "<html><body>maintenance</body></html>"},
    };
    for (const auto& [id, body] : bodies) {
        server_.AddFile(std::string("/manifests/") + id + "/current.xml", body);
        EXPECT_THROW(packages_.Create(id), ManifestParseException) << id;
    }
    server_.AddFile("/nodes/empty.xml", "");
    server_.AddFile("/nodes/none.xml", "<ArrayOfNodeInfo><Other/></ArrayOfNodeInfo>");
    EXPECT_THROW(nodes_.Create("empty"), ManifestParseException);
    EXPECT_THROW(nodes_.Create("none"), ManifestParseException);
}

TEST_F(ManifestFactoryTest, AnEarlyCloseIsAStreamError) {
    server_.AddFile("/manifests/short/current.xml", Package("short", "1"));
    HttpFault close;
    close.closeAfterBytes = 30;
    server_.SetFault("/manifests/short/current.xml", close);
    EXPECT_THROW(packages_.Create("short"), ManifestStreamException);
}

TEST_F(ManifestFactoryTest, PackageFieldsAsAttributesReadTheSame) {
    server_.AddFile(
        "/manifests/pkg/5.xml",
        "<?xml version=\"1.0\"?><package id=\"pkg\" name=\"N\" partnerId=\"p\" versionId=\"5\" "
        "run=\"bin/run\"><files><file path=\"bin/run\" chunksize=\"4\" size=\"4\" checksums=\"0000abcd\"/>"
        "</files></package>");
    const auto package = packages_.Create("pkg/5");
    EXPECT_EQ(package->GetVersionId(), "5");
    ASSERT_NE(package->GetRunFile(), nullptr);
    EXPECT_EQ(package->GetRunFile()->GetChecksums(), std::vector<std::uint32_t>{0xABCDu});
}

TEST_F(ManifestFactoryTest, SessionRequestsReuseTheConnection) {
    server_.AddFile("/manifests/pkg/current.xml", Package("pkg", "1"));
    server_.AddFile("/nodes/partner.xml", kNodeList);
    RoundRobinHttpSessionFactory sessions;
    const auto session = sessions.Create();
    packages_.Create("pkg", session);
    nodes_.Create("partner", session);
    packages_.Create("pkg", session);
    EXPECT_EQ(server_.RequestCount(), 3u);
    EXPECT_EQ(server_.ConnectionCount(), 1u);
}

TEST_F(ManifestFactoryTest, ConcurrentCreatesShareOneFactory) {
    server_.AddFile("/manifests/pkg/current.xml", Package("pkg", "1"));
    std::vector<std::thread> threads;
    std::atomic<int> complete{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                if (packages_.Create("pkg")->GetFiles().size() == 1) ++complete;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(complete.load(), 20);
}

TEST_F(ManifestFactoryTest, ABodyBeyondTheSizeLimitIsAStreamError) {
    const std::string body = Package("pkg", "1");
    server_.AddFile("/doc.xml", body);
    StandardPackageManifest fits;
    XmlHttpManifestSource(server_.Url("/doc.xml"), &requests_, nullptr, 2, 3, body.size()).Load("", fits);
    EXPECT_EQ(fits.GetId(), "pkg");
    StandardPackageManifest tooLarge;
    XmlHttpManifestSource source(server_.Url("/doc.xml"), &requests_, nullptr, 2, 3, body.size() - 1);
    EXPECT_THROW(source.Load("", tooLarge), ManifestStreamException);
}

TEST_F(ManifestFactoryTest, AHostileBodyOfTheFullSizeFailsInBoundedMemory) {
    // Each empty element costs the reader hundreds of bytes against its four in the body: a body of the largest
    // accepted size made of them must end in the parse error, not in gigabytes of parsed nodes.
    std::string body = "<package>";
    body.reserve(kMaxManifestBytes);
    while (body.size() + 4 <= kMaxManifestBytes)
        body += "<a/>";
    server_.AddFile("/manifests/hostile/current.xml", std::move(body));
    // 64 MiB through a busy machine's loopback may take longer than the fixture's three seconds.
    XmlHttpPackageManifestFactory patient(Host(), &requests_, 2, 60);
    const long before = test::PeakResidentMiB();
    EXPECT_THROW(patient.Create("hostile"), ManifestParseException);
    if (test::kResidentSizeIsMeaningful) {
        EXPECT_LT(test::PeakResidentMiB() - before, 384);
    }
}

TEST_F(ManifestFactoryTest, ABadUrlIsALocatorError) {
    StandardNodeListManifest list;
    XmlHttpManifestSource source("gopher://127.0.0.1/x", &requests_, nullptr, 2, 3);
    EXPECT_THROW(source.Load("", list), ManifestLocatorException);
}

}  // namespace
}  // namespace qelt

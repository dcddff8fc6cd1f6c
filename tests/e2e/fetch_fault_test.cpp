#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/error_message.h"
#include "tests/e2e/fetch_fixture.h"
#include "tests/support/test_http_server.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Replaced(std::string text, const std::string& what, const std::string& by) {
    const auto at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    if (at != std::string::npos) text.replace(at, what.size(), by);
    return text;
}

bool FolderIsEmpty(const fs::path& folder) {
    return !fs::exists(folder) || fs::is_empty(folder);
}

// A failed fetch names its error in the user's words and exits 1 on its own, without a crash.
void ExpectFailure(const ProgramResult& result, TransferError error) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("qelt-fetch: " + ErrorMessage(error) + "\n"), std::string::npos) << result.err;
}

class FetchFaultTest : public FetchTest {
protected:
    // nginx on one port as the manifest host, and `nodes` as the package's node list (the nginx port itself
    // where a node is "").
    void ServeWithNodes(std::vector<std::string> nodes) {
        NginxOptions options;
        options.root = root;
        nginx = std::make_unique<NginxServer>(options);
        for (auto& node : nodes)
            if (node.empty()) node = ManifestHost();
        Publish(StandardPackage(), "bin/start", nodes);
    }

    std::string ManifestHost() const { return Host(nginx->Ports()[0]); }
};

TEST_F(FetchFaultTest, MirrorsFailingEachTheirOwnWayLeaveTheHealthyOneToServe) {
    TestHttpServer unavailable;
    TestHttpServer corrupting;
    corrupting.ServeFolder(root);
    ServeWithNodes({DeadHost(), Host(unavailable.Port()), Host(corrupting.Port()), ""});
    for (const auto& file : files) {
        HttpFault busy;
        busy.status = 503;
        unavailable.SetFault(MirrorPath(file.path), busy);
        HttpFault corrupt;
        corrupt.corruptOffset = 100;
        corrupt.corruptLength = 4;
        corrupting.SetFault(MirrorPath(file.path), corrupt);
    }

    const ProgramResult result = Fetch(ManifestHost());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ExpectIdentical();
    EXPECT_TRUE(IsExecutable("bin/start"));
    // The faulty mirrors were tried, and every chunk came from the healthy one in the end.
    EXPECT_GT(unavailable.RequestCount(), 0u);
    EXPECT_GT(corrupting.RequestCount(), 0u);
    SettledLogSize();
    EXPECT_EQ(RequestedChunks(0), AllChunks());
}

TEST_F(FetchFaultTest, WithEveryMirrorDownTheFetchRetriesThenEndsWithTheConnectionMessage) {
    ServeWithNodes({DeadHost(), DeadHost(), DeadHost(), DeadHost()});
    const auto started = std::chrono::steady_clock::now();
    const ProgramResult result = Fetch(ManifestHost(), {"--retries", "2", "--retry-delay", "0.2"});
    // Two pauses of 0.2 s and three rounds of refused connections.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    ExpectFailure(result, TransferError::ConnectionError);
    EXPECT_EQ(Occurrences(result.err, "qelt-fetch: retrying in 0.2 s"), 2u) << result.err;
    EXPECT_NE(result.err.find("(retry 2 of 2)"), std::string::npos);
    EXPECT_FALSE(IsExecutable("bin/start"));

    // The same with the manifest host itself down, and no retries.
    const ProgramResult unreachable = Fetch(DeadHost(), {"--retries", "0"});
    ExpectFailure(unreachable, TransferError::ConnectionError);
    EXPECT_EQ(unreachable.err.find("retrying"), std::string::npos);
}

TEST_F(FetchFaultTest, AFullDiskEndsAtOnceWithTheDiskSpaceMessage) {
    ServeWithNodes({""});
    fs::create_directories(dest);
    // Room for the run file, not for the package.
    TestMount small(dest, 1 << 20, false);
    if (!small.Mounted()) GTEST_SKIP() << "mounting a small tmpfs as the destination needs root";
    const ProgramResult result = Fetch(ManifestHost());
    ExpectFailure(result, TransferError::DiskFullError);
    EXPECT_EQ(result.err.find("retrying"), std::string::npos) << result.err;
    EXPECT_FALSE(IsExecutable("bin/start"));
}

TEST_F(FetchFaultTest, AFolderTheUserMayNotWriteEndsWithTheDiskAccessMessage) {
    const std::string setpriv = FindOnPath("setpriv");
    const std::vector<std::string> asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    auto asNobodyRun = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), asNobody.begin(), asNobody.end());
        return arguments;
    };
    if (setpriv.empty() || RunProgram(setpriv, asNobodyRun({"/bin/true"}), scratch).exitCode != 0)
        GTEST_SKIP() << "running as another user needs root and setpriv";
    ServeWithNodes({""});
    // Root's folders, readable by everyone and writable by root only; the program's own temporary folder is
    // open to it.
    fs::create_directories(dest);
    for (const auto& folder : {work.path(), dest})
        fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(programTemp, fs::perms::all);
    const std::vector<std::string> environment = {
        "TMPDIR=" + programTemp.string(), "http_proxy=", "HTTP_PROXY=", "LC_ALL=C", "LANG=C", "LANGUAGE="};

    std::vector<std::string> arguments = FetchArguments(ManifestHost());
    arguments.insert(arguments.begin(), QELT_FETCH_PROGRAM);
    const ProgramResult result = RunProgram(setpriv, asNobodyRun(arguments), scratch, environment);
    ExpectFailure(result, TransferError::DiskAccessError);

    EXPECT_EQ(result.err.find("retrying"), std::string::npos) << result.err;
    EXPECT_TRUE(FolderIsEmpty(dest));

    // A destination that cannot even be created says the same.
    arguments = FetchArguments(ManifestHost(), {"--dest", (dest / "sub").string()});
    arguments.erase(arguments.begin() + 6, arguments.begin() + 8);  // the first --dest
    arguments.insert(arguments.begin(), QELT_FETCH_PROGRAM);
    const ProgramResult uncreatable = RunProgram(setpriv, asNobodyRun(arguments), scratch, environment);
    ExpectFailure(uncreatable, TransferError::DiskAccessError);
    EXPECT_TRUE(FolderIsEmpty(dest));
}

TEST_F(FetchFaultTest, AHostileManifestEndsWithTheUnexpectedErrorMessageAndWritesNothing) {
    ServeWithNodes({""});
    const std::string manifest = ReadText(root / "manifests" / kFetchPackage / "current.xml");
    TestHttpServer manifests;
    manifests.ServeFolder(root);
    const fs::path outside = work / "outside.txt";
    const std::string checksums = manifest.substr(manifest.find("<checksums>", manifest.find("level 1#a.pak")));
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"a path out of the folder", Replaced(manifest, "<path>readme.txt</path>", "<path>../escape.txt</path>")},
        {"an absolute path",
         Replaced(manifest, "<path>readme.txt</path>", "<path>" + outside.string() + "</path>")},
        {"a checksum list one short", Replaced(manifest, checksums.substr(0, checksums.find("</checksums>")),
                                               checksums.substr(0, checksums.find("</checksums>") - 8))},
    };
    for (const auto& [what, document] : hostile) {
        SCOPED_TRACE(what);
        manifests.AddFile(std::string("/manifests/") + kFetchPackage + "/current.xml", document);
        ExpectFailure(Fetch(Host(manifests.Port())), TransferError::InternalError);
        EXPECT_FALSE(fs::exists(work / "escape.txt"));
        EXPECT_FALSE(fs::exists(outside));
        EXPECT_TRUE(FolderIsEmpty(dest));
    }

    // The message is the user's language's.
    const ProgramResult german = Fetch(Host(manifests.Port()), {}, {"LC_ALL=de_DE.UTF-8"});
    EXPECT_EQ(german.exitCode, 1);
    EXPECT_NE(german.err.find("qelt-fetch: Ein unerwarteter Fehler ist aufgetreten."), std::string::npos)
        << german.err;

    // The documents above were served where the real one is.
    manifests.AddFile(std::string("/manifests/") + kFetchPackage + "/current.xml", manifest);
    const ProgramResult genuine = Fetch(Host(manifests.Port()));
    EXPECT_EQ(genuine.exitCode, 0) << genuine.err;
    ExpectIdentical();
}

}  // namespace
}  // namespace qelt::test

#include "tools/qelt_fetch/fetch_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/embedded_message_catalog.h"
#include "app/locale.h"
#include "tools/qelt_fetch/fetch_progress.h"

namespace qelt::fetch {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kRequired = {"--host",    "m.example", "--partner", "p",
                                            "--package", "k",         "--dest",    "d"};

std::vector<std::string> With(std::vector<std::string> extra) {
    extra.insert(extra.begin(), kRequired.begin(), kRequired.end());
    return extra;
}

TEST(FetchCommandLineTest, ReadsEveryOptionInBothFormsAndDefaultsTheRest) {
    const FetchOptions defaults = ParseCommandLine(kRequired);
    EXPECT_EQ(defaults.host + defaults.partnerId + defaults.packageId + defaults.destination, "m.examplepkd");
    EXPECT_EQ(defaults.versionId, "?");
    EXPECT_EQ(defaults.logMask, 0);
    EXPECT_EQ(defaults.analyticsHost, "");
    EXPECT_EQ(defaults.retries, 3u);
    EXPECT_EQ(defaults.retryDelay, 5000ms);

    const FetchOptions all = ParseCommandLine(
        {"--host=http://10.0.0.1:8080/", "--partner=p", "--package", "k", "--version", "1.2", "--dest=/a b",
         "--log", "-9", "--analytics-host=[::1]:81", "--retries", "0", "--retry-delay=0.25"});
    EXPECT_EQ(all.host, "10.0.0.1:8080");
    EXPECT_EQ(all.versionId, "1.2");
    EXPECT_EQ(all.destination, "/a b");
    EXPECT_EQ(all.logMask, -9);
    EXPECT_EQ(all.analyticsHost, "[::1]:81");
    EXPECT_EQ(all.retries, 0u);
    EXPECT_EQ(all.retryDelay, 250ms);
    // The bootstrapper's "log=" rule: 32 bits unsigned, so the top value is -1.
    EXPECT_EQ(ParseCommandLine(With({"--log", "4294967295"})).logMask, -1);
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--dest", "x", "-h"}).help);
}

TEST(FetchCommandLineTest, RefusesWhatItCannotRun) {
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--host", "m", "--partner", "p", "--package", "k"},  // no destination
             {"--partner", "p", "--package", "k", "--dest", "d"},  // no host
             With({"--host", "n"}),
             With({"--bogus"}),
             With({"extra"}),
             With({"--dest"}),
             With({"--version", ""}),
             With({"--version", "a/b"}),
             With({"--log", "5x"}),
             With({"--log", "4294967296"}),
             With({"--retries", "-1"}),
             With({"--retry-delay", "soon"}),
             With({"--retry-delay", "-1"}),
             With({"--help=yes"}),
         }) {
        EXPECT_THROW(ParseCommandLine(bad), UsageError) << testing::PrintToString(bad);
    }
    for (const char* bad : {"", "/", ":80", "https://m", "m:0", "m:65536", "m:", "a:b:c", "m/path", "u@m", "m?x"})
        EXPECT_THROW(ParseHost("--host", bad), UsageError) << bad;
}

class FetchProgressTest : public ::testing::Test {
protected:
    TransferStatus Status(std::uint64_t transferred, std::int32_t seconds = 90) {
        TransferStatus status;
        status.state = TransferState::Transferring;
        status.bytesTransferred = transferred;
        status.bytesTotal = 4 << 20;
        status.bytesPerSecond = 1 << 20;
        status.secondsRemaining = seconds;
        return status;
    }

    EmbeddedMessageCatalog catalog{"updater"};
    CustomBoostLocale locale{catalog, "C"};
    std::uint32_t now = 0;
    MillisecondClock clock = [this] { return now; };
    std::ostringstream out;
};

TEST_F(FetchProgressTest, ATerminalGetsOneBarRedrawnInPlace) {
    FetchProgress progress(out, true, locale, clock);
    progress.Update(Status(1 << 20, -1));
    progress.Update(Status(1 << 20, -1));
    progress.Update(Status(2 << 20));
    progress.Finish();
    // The shorter line blanks out what is left of the longer one.
    EXPECT_EQ(out.str(),
              "\r[#######-----------------------]  25% 1.00 MB of 4.00 MB, 1.00 MB/s, Calculating time remaining"
              "\r[###############---------------]  50% 2.00 MB of 4.00 MB, 1.00 MB/s, 2 minutes remaining"
              "       \n");
}

TEST_F(FetchProgressTest, ALogGetsALineEverySoOftenAndTheLastOneAlways) {
    FetchProgress progress(out, false, locale, clock, 2000);
    progress.Update(Status(1 << 20));
    now = 1000;
    progress.Update(Status(2 << 20));  // held back
    progress.Update(Status(3 << 20));  // held back, replacing the one before
    progress.Finish();
    now = 1500;
    TransferStatus complete = Status(4 << 20);
    complete.state = TransferState::Complete;
    progress.Update(complete);
    EXPECT_EQ(out.str(),
              " 25% 1.00 MB of 4.00 MB, 1.00 MB/s, 2 minutes remaining\n"
              " 75% 3.00 MB of 4.00 MB, 1.00 MB/s, 2 minutes remaining\n"
              "100% 4.00 MB of 4.00 MB\n");
}

}  // namespace
}  // namespace qelt::fetch

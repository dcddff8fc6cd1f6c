#include "app/dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <stdexcept>
#include <thread>

#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "app/transfer_service.h"
#include "resources/deployment.h"
#include "tests/support/environment_guard.h"
#include "tests/support/recording_dialog_view.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_package.h"
#include "tests/support/test_transfer.h"

namespace qelt::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Updater::Dialog;

const std::string kCaption = "Vellamor Downloader Error";
const std::string kConnectionMessage =
    "We couldn't establish a connection. Could you please check your connection and try again?";
const std::string kDiskMessage =
    "We're having some trouble writing to your disk. Can you make sure your user account has sufficient "
    "permissions and try again?";

// Writes its arguments, one a line, to launched.txt in its working folder (the folder it lies in).
const std::string kRunScript = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > launched.txt\n";

// The skin is version v2 of the same package, so one manifest host, node list and mirror serve both transfers.
const char kSkinVersion[] = "v2";

std::string SkinFilePath(const std::string& path) {
    return std::string("/packages/") + kPartner + "/" + kPackage + "/" + kSkinVersion + "/" + path;
}

// The dialog with a recording view over a real transfer service and monitor, whose manifest host, mirror and
// analytics host are loopback servers; the data folder is a folder of the test. The downloader is the current
// version of the package "pkg" (a script that records its arguments), the skin version v2 of it.
class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        options.programPath = "/opt/bootstrapper";
        options.downloaderPartnerId = kPartner;
        options.downloaderPackageId = kPackage;
        options.partnerId = kPartner;
        options.skinPackageId = kPackage;
        options.skinVersion = kSkinVersion;
        options.gamePackageId = "game";
        options.gameName = options.installFolder = "Vellamor";
        options.dataFolder = (data / "Quorvel").string();
        AddEmbeddedLanguageFolders(catalog);
    }

    ~DialogTest() override {
        monitor.reset();
        service.reset();
        Dialog::DestroySingleton();
    }

    void PublishDownloader(const std::vector<PackageFile>& files, const std::string& run) {
        manifests.AddFile(std::string("/manifests/") + kPackage + "/current.xml", PackageXml(files, run));
        for (const auto& file : files)
            mirror.AddFile(FilePath(file.path), file.content);
    }

    void Publish(const std::vector<PackageFile>& downloader = {{"run.sh", kRunScript}}) {
        PublishDownloader(downloader, downloader.front().path);
        const std::vector<PackageFile> skin = {{"skin.ini", MakeTestContent(40000, 3)}};
        manifests.AddFile(std::string("/manifests/") + kPackage + "/" + kSkinVersion + ".xml",
                          PackageXml(skin, "skin.ini", kSkinVersion));
        mirror.AddFile(SkinFilePath("skin.ini"), skin.front().content);
        manifests.AddFile(std::string("/nodes/") + kPartner + ".xml", NodeListXml({HostOf(mirror)}));
    }

    Dialog& MakeDialog() {
        TransferSettings settings = FastSettings();
        settings.manifestHost = HostOf(manifests);
        settings.transfersFolder = (data / "transfers").string();
        settings.logsFolder = (data / "logs").string();
        service = std::make_unique<TransferService>(settings, DeploymentValues{HostOf(events), HostOf(events)});
        monitor = std::make_unique<TransferMonitorImpl>(*service);
        monitor->Start();
        return Dialog::CreateSingleton(view, *service, *monitor, locale, options);
    }

    // Runs the dialog on a thread of its own, as the main thread would, while the test goes on.
    void StartDialog(Dialog& dialog) {
        modal = std::async(std::launch::async, [&dialog] { dialog.ShowModal(); });
    }

    // Waits until the dialog has ended; a dialog still open after `timeout` is closed and the test fails.
    void WaitUntilClosed(std::chrono::seconds timeout = 30s) {
        if (modal.wait_for(timeout) != std::future_status::ready) {
            ADD_FAILURE() << "the dialog did not end; calls: " << testing::PrintToString(view->Calls());
            view->Close();
        }
        modal.get();
    }

    void Run(std::chrono::seconds timeout = 30s) {
        StartDialog(MakeDialog());
        WaitUntilClosed(timeout);
    }

    std::vector<std::string> MessageBoxes() const {
        std::vector<std::string> boxes;
        for (const auto& call : view->Calls())
            if (call.rfind("MessageBox ", 0) == 0) boxes.push_back(call);
        return boxes;
    }

    // The arguments the downloaded program was started with, one a line.
    std::string LaunchedArguments() const { return ReadWholeFile(fs::path(options.dataFolder) / "launched.txt"); }

    bool Called(const std::string& call) const {
        const auto calls = view->Calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    EnvironmentGuard noProxy{"http_proxy", ""};
    EnvironmentGuard language{"LC_ALL", "C"};
    TestHttpServer manifests;
    TestHttpServer mirror;
    TestHttpServer events;
    TempDir data;
    EmbeddedMessageCatalog catalog{"updater"};
    CustomBoostLocale locale{catalog, ""};
    LaunchOptions options;
    std::shared_ptr<RecordingDialogView> view = std::make_shared<RecordingDialogView>();
    std::unique_ptr<TransferService> service;
    std::unique_ptr<TransferMonitorImpl> monitor;
    std::future<void> modal;
};

TEST_F(DialogTest, WithoutLanguagesTheTransfersStartAtOnceAndTheProgramStartsOnTheLaterCompletion) {
    Publish();
    // The downloader's manifest comes late, so the skin completes first.
    HttpFault late;
    late.delay = 2500ms;
    manifests.SetFault(std::string("/manifests/") + kPackage + "/current.xml", late);
    StartDialog(MakeDialog());

    // The skin's record is the first one written: it is started once its manifests are in.
    const fs::path records = data / "transfers";
    std::string skinId;
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
        if (fs::is_directory(records) && !fs::is_empty(records)) {
            skinId = fs::directory_iterator(records)->path().stem().string();
            if (service->GetTransferStatus(skinId).state == TransferState::Complete) break;
        }
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(service->GetTransferStatus(skinId).state, TransferState::Complete);
    std::this_thread::sleep_for(300ms);  // three monitor rounds: the dialog has seen the skin complete
    ASSERT_EQ(std::distance(fs::directory_iterator(records), fs::directory_iterator()), 1)
        << "the downloader came too early for this test";
    EXPECT_FALSE(Called("Face launch")) << "launched with the skin alone";

    WaitUntilClosed();
    const auto calls = view->Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
              (std::vector<std::string>{"Caption Vellamor Downloader", "Status Calculating time remaining",
                                        "Face progress"}));
    EXPECT_FALSE(Called("Face language"));
    const std::vector<std::string> ending(calls.end() - 4, calls.end());
    EXPECT_EQ(ending, (std::vector<std::string>{"Face launch", "Marquee", "Status Launching Vellamor Downloader",
                                                "Close"}));
    EXPECT_EQ(LaunchedArguments(),
              "/id\npartner\n/package\ngame\n/name\nVellamor\n/folder\nVellamor\n/skin\npkg/skin.ini\n");
    std::string target;  // the program's URL as the shortcut holds it, in UTF-16LE
    for (const char c : std::string("URL=file:///opt/bootstrapper\r\n"))
        target += {c, '\0'};
    const std::string shortcut = ReadWholeFile(fs::path(options.dataFolder) / "shortcuts" / "game.url");
    EXPECT_NE(shortcut.find(target), std::string::npos);
    EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(DialogTest, WithLanguagesOkStartsTheTransfersInTheChosenLanguage) {
    Publish();
    options.languages = {{"de", "Deutsch"}, {"fr", "Français"}};
    options.gameName = "de=Spiel;fr=Jeu";
    options.installFolder = "fr=Dossier";
    options.gamePackageId = "fr=jeu";
    options.skinPackageId = "de=pkg;fr=pkg";
    view->PressOk(1);
    Run();

    const CustomBoostLocale french(catalog, "fr");
    const std::string caption = french.TranslateWith(kWindowTitleMessage, "Jeu");
    ASSERT_NE(caption, "Jeu Downloader") << "the French catalog should translate the title";
    const auto calls = view->Calls();
    ASSERT_GE(calls.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 7),
              (std::vector<std::string>{"Caption de=Spiel;fr=Jeu Downloader", "Status Calculating time remaining",
                                        "Languages Deutsch|Français", "Face language", "Caption " + caption,
                                        "Status " + french.FormatRemainingTime(-1), "Face progress"}));
    EXPECT_EQ(LaunchedArguments(),
              "/id\npartner\n/package\njeu\n/name\nJeu\n/folder\nDossier\n/locale\nfr\n/skin\npkg/skin.ini\n");
}

TEST_F(DialogTest, CancelOnTheLanguagePageEndsWithoutATransfer) {
    Publish();
    options.languages = {{"de", "Deutsch"}};
    view->PressCancel();
    Run();
    EXPECT_EQ(view->Calls().back(), "Close");
    EXPECT_FALSE(Called("Face progress"));
    EXPECT_EQ(manifests.RequestCount(), 0u);
}

TEST_F(DialogTest, ACancelRequestedBeforeTheWindowOpensClosesItAtOnce) {
    Publish();
    Dialog& dialog = MakeDialog();
    dialog.RequestCancel();
    dialog.ShowModal();
    EXPECT_EQ(view->Calls().back(), "Close");
    EXPECT_FALSE(Called("Face progress"));
    EXPECT_EQ(manifests.RequestCount(), 0u);
}

TEST_F(DialogTest, ProgressIsTheTruncatedShareOfTheDownloadersBytes) {
    // Three chunks of one byte. The first is on disk already and is kept; the other two take a while to come.
    PackageFile three{"three.bin", "abc", 1};
    Publish({three});
    fs::create_directories(options.dataFolder);
    std::ofstream(fs::path(options.dataFolder) / "three.bin") << "a??";
    HttpFault wait;
    wait.delay = 800ms;
    mirror.SetFault(FilePath("three.bin"), wait);
    StartDialog(MakeDialog());
    EXPECT_TRUE(view->WaitFor("Progress 33")) << testing::PrintToString(view->Calls());
    // "abc" is no program: its launch fails, which says so and closes.
    WaitUntilClosed();
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"MessageBox " + kCaption +
                                                       "|The Vellamor Downloader could "
                                                       "not be launched. " +
                                                       SupportSentence(deployment::SupportHost())});
}

TEST_F(DialogTest, ATransferErrorShowsOneMessageAndCloses) {
    Publish();
    mirror.SetRefusingConnections(true);  // both transfers fail
    Run(60s);
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"MessageBox " + kCaption + "|" + kConnectionMessage});
    EXPECT_EQ(view->Calls().back(), "Close");
    EXPECT_FALSE(Called("Face launch"));
}

TEST_F(DialogTest, AReadyTransferWhoseFolderCannotBeMadeShowsTheDiskMessage) {
    Publish();
    std::ofstream(data / "file") << "x";
    options.dataFolder = (data / "file" / "Quorvel").string();
    Run();
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"MessageBox " + kCaption + "|" + kDiskMessage});
    EXPECT_EQ(view->Calls().back(), "Close");
}

TEST_F(DialogTest, ATransferThatCannotBeCreatedShowsTheUnexpectedError) {
    Dialog& dialog = MakeDialog();
    service->Transfers().Shutdown();
    StartDialog(dialog);
    WaitUntilClosed();
    EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"MessageBox " + kCaption + "|" +
                                                       ErrorMessage(TransferError::InternalError)});
}

TEST_F(DialogTest, TheSingletonIsMadeOnceAndMustBeMadeBeforeUse) {
    try {
        Dialog::GetSingleton();
        ADD_FAILURE() << "GetSingleton without a dialog";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Dialog::GetSingleton called without CreateSingleton");
    }
    Dialog& dialog = MakeDialog();
    EXPECT_EQ(&Dialog::GetSingleton(), &dialog);
    try {
        Dialog::CreateSingleton(view, *service, *monitor, locale, options);
        ADD_FAILURE() << "a second CreateSingleton";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "Dialog::CreateSingleton called multiple times");
    }
    EXPECT_EQ(&Dialog::GetSingleton(), &dialog);
}

}  // namespace
}  // namespace qelt::test

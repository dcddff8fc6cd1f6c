#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/dialog.h"
#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "resources/string_table.h"
#include "tests/support/environment_guard.h"
#include "tests/support/recording_dialog_view.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_http_server.h"

namespace qelt {
namespace {

const std::string kDiskMessage =
    "We're having some trouble writing to your disk. Can you make sure your user account has sufficient "
    "permissions and try again?";

// The entry routine with a recording view, against a temporary directory of the test's own; the user cancels
// at once, and every host is a loopback port that refuses connections. The user's system locale is English, so
// untranslated texts are expected unless a language list says otherwise.
class StartupTest : public ::testing::Test {
protected:
    int Run(const std::vector<std::string>& arguments, std::map<unsigned, std::string> strings = {}) {
        closed_.SetRefusingConnections(true);
        const std::string nowhere = "127.0.0.1:" + std::to_string(closed_.Port());
        strings.emplace(102, nowhere);
        BootstrapperPlatform platform;
        platform.loadString = [strings = std::move(strings)](unsigned id) {
            const auto found = strings.find(id);
            return found != strings.end() ? found->second : LoadResourceString(id);
        };
        platform.makeView = [this](bool headless) {
            ++viewsMade_;
            headless_ = headless;
            view_ = std::make_shared<test::RecordingDialogView>();
            view_->PressCancel();
            return view_;
        };
        platform.deployment = {nowhere, nowhere};
        const int code = RunBootstrapper(arguments, platform);
        Updater::Dialog::DestroySingleton();
        return code;
    }

    // Makes the data folder impossible: a plain file stands where its first parent would go.
    void BlockDataFolder() {
        std::ofstream(dir_ / "blocked") << "x";
        tmpdir_.emplace("TMPDIR", (dir_ / "blocked").string());
    }

    test::TestHttpServer closed_;
    test::TempDir dir_;
    std::optional<test::EnvironmentGuard> tmpdir_{std::in_place, "TMPDIR", dir_.path().string()};
    test::EnvironmentGuard language_{"LC_ALL", "C"};
    std::shared_ptr<test::RecordingDialogView> view_;
    int viewsMade_ = 0;
    bool headless_ = false;
};

TEST_F(StartupTest, CreatesTheDataFolderAndRunsTheDialogUntilTheUserEndsIt) {
    EXPECT_EQ(Run({"bootstrapper", "log=3"}), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Orvane Technologies" / "Quorvel"));
    EXPECT_EQ(viewsMade_, 1);
    EXPECT_EQ(view_->Calls(),
              (std::vector<std::string>{"Caption " + LoadResourceString(StringId::kGameName) + " Downloader",
                                        "Status Calculating time remaining", "Face progress", "Close"}));
}

TEST_F(StartupTest, UnusableDataFolderShowsTheDiskMessageWithTheErrorCaptionAndReturnsZero) {
    BlockDataFolder();
    EXPECT_EQ(Run({"bootstrapper"}), 0);
    const std::string caption = LoadResourceString(StringId::kGameName) + " Downloader Error";
    EXPECT_EQ(view_->Calls(), std::vector<std::string>{"MessageBox " + caption + "|" + kDiskMessage});
}

TEST_F(StartupTest, DefaultLanguageOfTheConfiguredListTranslatesTheMessage) {
    BlockDataFolder();
    EXPECT_EQ(Run({"bootstrapper"}, {{129, "de=Deutsch;fr=Français"}, {130, "fr"}, {108, "fr=Jeu;de=Spiel"}}), 0);
    EmbeddedMessageCatalog catalog("updater");
    AddEmbeddedLanguageFolders(catalog);
    const CustomBoostLocale french(catalog, "fr");
    const std::string caption = french.TranslateWith(kErrorCaptionMessage, "Jeu");
    const std::string text = french.Translate(kDiskMessage);
    ASSERT_NE(text, kDiskMessage) << "the French catalog should translate the disk message";
    EXPECT_EQ(view_->Calls(), std::vector<std::string>{"MessageBox " + caption + "|" + text});
}

TEST_F(StartupTest, HeadlessArgumentAsksForTheTerminalView) {
    Run({"bootstrapper", "log=3"});
    EXPECT_FALSE(headless_);
    Run({"bootstrapper", "packageVersion=2", "--headless"});
    EXPECT_TRUE(headless_);
    EXPECT_FALSE(IsHeadless({"--headless"})) << "argument 0 is the program";
    EXPECT_FALSE(IsHeadless({"bootstrapper", "--headless=1"}));
}

// The program itself chooses the terminal face without a display, or when asked, and writes the message there.
TEST_F(StartupTest, ProgramWithoutADisplayWritesTheMessageToStandardError) {
    BlockDataFolder();
    const std::string caption = LoadResourceString(StringId::kGameName) + " Downloader Error";
    for (const std::string arguments : {"", " --headless"}) {
        const std::string command =
            "env -u DISPLAY -u WAYLAND_DISPLAY '" QELT_BOOTSTRAPPER "'" + arguments + " 2>&1 >/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[256];
        while (const std::size_t got = fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, got);
        EXPECT_EQ(pclose(pipe), 0) << "exit status";
        EXPECT_EQ(output, caption + ": " + kDiskMessage + "\n") << command;
    }
}

}  // namespace
}  // namespace qelt

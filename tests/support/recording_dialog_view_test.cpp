#include "tests/support/recording_dialog_view.h"

#include <gtest/gtest.h>

#include <thread>

namespace qelt::test {
namespace {

using Updater::DialogFace;

// Answers like the dialog: OK shows the progress page, cancel closes.
struct Dialog : Updater::DialogViewEvents {
    explicit Dialog(RecordingDialogView& view) : view(view) {}
    void OnInitialize() override { view.ShowFace(DialogFace::LanguagePage); }
    void OnOk(int languageIndex) override { view.SetProgress(languageIndex); }
    void OnCancel() override { view.Close(); }

    RecordingDialogView& view;
};

TEST(RecordingDialogView, PlaysQueuedInputInOrderAfterInitializeAndEndsOnClose) {
    RecordingDialogView view;
    view.Close();  // no window yet: recorded, changes nothing
    view.PressOk(2);
    view.PressCancel();
    view.PressOk(1);  // after the close: never delivered
    Dialog dialog(view);
    view.RunModal(dialog);
    EXPECT_EQ(view.Calls(), (std::vector<std::string>{"Close", "Face language", "Progress 2", "Close"}));
    EXPECT_EQ(view.GetSelectedLanguage(), 2);
    EXPECT_FALSE(view.IsRunning());
}

TEST(RecordingDialogView, AnotherThreadCanWaitForACallAndCloseTheRun) {
    RecordingDialogView view;
    Dialog dialog(view);
    std::thread monitor([&] {
        EXPECT_TRUE(view.WaitFor("Face language"));
        view.ShowMessageBox("text", "caption");
        view.Close();
    });
    view.RunModal(dialog);
    monitor.join();
    EXPECT_EQ(view.Calls(), (std::vector<std::string>{"Face language", "MessageBox caption|text", "Close"}));
    EXPECT_FALSE(view.WaitFor("Marquee", std::chrono::milliseconds(1)));
}

}  // namespace
}  // namespace qelt::test

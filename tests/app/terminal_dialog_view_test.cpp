#include "app/terminal_dialog_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <streambuf>
#include <utility>

namespace qelt::Updater {
namespace {

// Plays the dialog: its script runs when the window opens, OK shows the progress page, and cancel closes.
struct ScriptedDialog : DialogViewEvents {
    explicit ScriptedDialog(DialogView& view) : view(view) {}

    void OnInitialize() override { script(); }
    void OnOk(int languageIndex) override {
        chosen.push_back(languageIndex);
        view.ShowFace(DialogFace::ProgressPage);
        view.Close();
    }
    void OnCancel() override {
        ++cancels;
        view.Close();
    }

    DialogView& view;
    std::function<void()> script = [] {};
    std::vector<int> chosen;
    int cancels = 0;
};

class TerminalDialogViewTest : public ::testing::Test {
protected:
    TerminalDialogView Plain() {
        return TerminalDialogView(
            input_, output_, false, [this] { return now_; }, 5000);
    }
    TerminalDialogView InPlace() {
        return TerminalDialogView(
            input_, output_, true, [this] { return now_; }, 5000);
    }

    std::istringstream input_;
    std::ostringstream output_;
    std::uint32_t now_ = 0;
};

TEST_F(TerminalDialogViewTest, PlainOutputWritesChangedLinesAtMostOncePerIntervalAndNeverLosesTheLast) {
    auto view = Plain();
    ScriptedDialog dialog(view);
    dialog.script = [&] {
        view.SetCaption("Vellamor Downloader");
        view.SetStatusText("Calculating time remaining");
        view.ShowFace(DialogFace::ProgressPage);
        now_ = 100;
        view.SetProgress(10);  // held back by the interval
        now_ = 200;
        view.SetStatusText("6 minutes remaining");
        now_ = 5000;
        view.SetProgress(33);
        now_ = 5100;
        view.SetProgress(33);  // unchanged
        view.SetProgress(34);
        view.SetStatusText("5 minutes remaining");
        now_ = 5200;
        view.SetProgress(100);  // written at once
        view.ShowFace(DialogFace::LaunchFace);
        view.StartMarquee();
        view.SetStatusText("Launching Vellamor Downloader");
        now_ = 5300;
        view.SetStatusText("Still launching");  // held back until the close
        view.Close();
        view.SetProgress(50);  // after the close: nothing
    };
    view.RunModal(dialog);
    EXPECT_EQ(output_.str(),
              "Vellamor Downloader\n"
              "[------------------------------]   0% Calculating time remaining\n"
              "[#########---------------------]  33% 6 minutes remaining\n"
              "[##############################] 100% 5 minutes remaining\n"
              "Launching Vellamor Downloader\n"
              "Still launching\n");
}

TEST_F(TerminalDialogViewTest, TerminalRedrawsOneLineInPlaceAndEndsItBeforeAMessage) {
    auto view = InPlace();
    ScriptedDialog dialog(view);
    dialog.script = [&] {
        view.SetCaption("Vellamor Downloader");
        view.SetStatusText("Calculating time remaining");
        view.ShowFace(DialogFace::ProgressPage);
        view.SetProgress(50);
        view.SetStatusText("Осталось: 2 мин");
        view.SetStatusText("Осталось: 2 мин");
        view.ShowMessageBox("We couldn't establish a connection.", "Vellamor Downloader Error");
        view.Close();
    };
    view.RunModal(dialog);
    // Each line is cleared to its end by the terminal, never padded: the shorter Cyrillic text has more bytes
    // per column than the one it replaces.
    EXPECT_EQ(output_.str(),
              "Vellamor Downloader\n"
              "\r[------------------------------]   0% Calculating time remaining\x1b[K"
              "\r[###############---------------]  50% Calculating time remaining\x1b[K"
              "\r[###############---------------]  50% Осталось: 2 мин\x1b[K"
              "\nVellamor Downloader Error: We couldn't establish a connection.\n");
}

TEST_F(TerminalDialogViewTest, MessageBoxWithoutAWindowIsWrittenWithItsCaption) {
    auto view = Plain();
    view.ShowFace(DialogFace::ProgressPage);  // no window: nothing
    view.ShowMessageBox("We're having some trouble writing to your disk.", "Vellamor Downloader Error");
    EXPECT_EQ(output_.str(), "Vellamor Downloader Error: We're having some trouble writing to your disk.\n");
}

TEST_F(TerminalDialogViewTest, LanguagePromptAsksAgainUntilTheAnswerIsAnEntry) {
    input_.str("x\n4\n 3 \n");
    auto view = Plain();
    ScriptedDialog dialog(view);
    dialog.script = [&] {
        view.SetCaption("Vellamor Downloader");
        view.SetLanguages({"English", "Deutsch", "Français"});
        view.ShowFace(DialogFace::LanguagePage);
    };
    view.RunModal(dialog);
    EXPECT_EQ(dialog.chosen, std::vector<int>{2});
    EXPECT_EQ(view.GetSelectedLanguage(), 2);
    EXPECT_EQ(output_.str(),
              "Vellamor Downloader\n"
              "Please select the language for your download:\n"
              "  1) English\n"
              "  2) Deutsch\n"
              "  3) Français\n"
              "Language [1]: \n"
              "Please answer with a number from 1 to 3, or q to quit.\n"
              "Language [1]: \n"
              "Please answer with a number from 1 to 3, or q to quit.\n"
              "Language [1]: \n"
              "[------------------------------]   0% \n");
}

TEST_F(TerminalDialogViewTest, EmptyAnswerTakesTheSelectionAndQuitOrEndOfInputCancels) {
    for (const auto& [answer, chosen, cancels] :
         {std::tuple{"\n", std::vector<int>{0}, 0}, {"q\n", {}, 1}, {"", {}, 1}}) {
        input_.clear();
        input_.str(answer);
        auto view = Plain();
        ScriptedDialog dialog(view);
        dialog.script = [&] {
            view.SetLanguages({"English", "Deutsch"});
            view.ShowFace(DialogFace::LanguagePage);
        };
        view.RunModal(dialog);
        EXPECT_EQ(dialog.chosen, chosen) << "answer " << answer;
        EXPECT_EQ(dialog.cancels, cancels) << "answer " << answer;
    }
}

// Input whose first read runs `beforeAnswer` and then delivers `answer`, as a user typing after something else
// has happened.
class AnswerAfter : public std::streambuf {
public:
    AnswerAfter(std::string answer, std::function<void()> beforeAnswer)
        : answer_(std::move(answer)), beforeAnswer_(std::move(beforeAnswer)) {}

protected:
    int_type underflow() override {
        if (beforeAnswer_) {
            std::exchange(beforeAnswer_, nullptr)();
            setg(answer_.data(), answer_.data(), answer_.data() + answer_.size());
        }
        return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
    }

private:
    std::string answer_;
    std::function<void()> beforeAnswer_;
};

TEST_F(TerminalDialogViewTest, AnAnswerAfterTheWindowClosedStartsNothing) {
    TerminalDialogView* shown = nullptr;
    AnswerAfter typed("1\n", [&] { shown->Close(); });
    std::istream input(&typed);
    TerminalDialogView view(
        input, output_, true, [this] { return now_; }, 5000);
    shown = &view;
    ScriptedDialog dialog(view);
    dialog.script = [&] {
        view.SetLanguages({"English", "Deutsch"});
        view.ShowFace(DialogFace::LanguagePage);
    };
    view.RunModal(dialog);
    EXPECT_EQ(dialog.chosen, std::vector<int>{});
    EXPECT_EQ(dialog.cancels, 0);
}

}  // namespace
}  // namespace qelt::Updater

#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_view.h"

namespace qelt::test {

// A DialogView for tests of the dialog logic: it records every call, in order, as one line of text, plays back
// the user's input a test has queued, and answers every message box at once.
//
// Recorded lines: "Face language", "Face progress", "Face launch", "Caption <text>", "Status <text>",
// "Progress <n>", "Marquee", "Languages <a>|<b>|...", "MessageBox <caption>|<text>", "Close". Reads
// (GetSelectedLanguage) are not recorded.
//
// RunModal delivers OnInitialize, then each queued input in order (on the RunModal thread, like a real view's
// main thread), then waits for Close; it runs once. Calls are recorded whether or not RunModal runs, from any
// thread.
class RecordingDialogView final : public Updater::DialogView {
public:
    // Queues the user pressing OK with the language entry `languageIndex` selected, or asking to end.
    void PressOk(int languageIndex);
    void PressCancel();

    std::vector<std::string> Calls() const;
    // Waits until `call` has been recorded (as a whole line); false after `timeout`.
    bool WaitFor(const std::string& call, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool IsRunning() const;

    void RunModal(Updater::DialogViewEvents& events) override;
    void Close() override;
    void ShowFace(Updater::DialogFace face) override;
    void SetCaption(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetProgress(int percent) override;
    void StartMarquee() override;
    void SetLanguages(const std::vector<std::string>& displayNames) override;
    int GetSelectedLanguage() const override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;

private:
    struct Input {
        bool ok;
        int languageIndex;
    };

    void Record(std::string call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::deque<Input> inputs_;
    int selected_ = -1;
    bool ran_ = false;
    bool running_ = false;
    bool closed_ = false;
};

}  // namespace qelt::test

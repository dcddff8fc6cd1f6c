#pragma once

#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "base/clock.h"

namespace qelt::Updater {

// The progress window for a machine without a display: text on a stream (standard error in the program) and a
// numbered language prompt answered on another (standard input).
//
// The progress page is one line, a bar, the percentage and the status text:
//   [#########---------------------]  30% 2 minutes remaining
// On a terminal (`redrawInPlace`) the line is rewritten in place after a carriage return and cleared to its end.
// Otherwise, for logs
// and pipes, a changed line is written as a new line at most once every `lineIntervalMs`, and always when a face
// changes, when the bar reaches 100 and before the view closes, so no state is lost. The caption is written on
// its own line when a face shows with a caption not written yet; the launch face shows the status text set after
// it, alone. A message box is written as "caption: text" and counts as dismissed at once.
//
// The language prompt runs on the thread of RunModal: an empty answer takes the selected entry, a number picks
// an entry, "q" or the end of the input refuses (OnCancel). Every operation is safe from any thread.
class TerminalDialogView final : public DialogView {
public:
    TerminalDialogView(std::istream& input, std::ostream& output, bool redrawInPlace,
                       MillisecondClock clock = SystemMillisecondClock(), std::uint32_t lineIntervalMs = 5000);

    void RunModal(DialogViewEvents& events) override;
    void Close() override;
    void ShowFace(DialogFace face) override;
    void SetCaption(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetProgress(int percent) override;
    void StartMarquee() override;
    void SetLanguages(const std::vector<std::string>& displayNames) override;
    int GetSelectedLanguage() const override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;

private:
    bool ShowsLanguagePage() const;
    // Asks for a language until the answer is usable; nullopt when the user refuses.
    std::optional<int> PromptForLanguage();
    std::string RenderLine() const;
    // Writes the current line if it changed; `force` ignores the line interval of plain output.
    void Draw(bool force);
    // Ends the line drawn in place, or writes the change plain output still holds back.
    void EndLine();
    void WriteCaption();

    std::istream& input_;
    std::ostream& output_;
    const bool redrawInPlace_;
    const MillisecondClock clock_;
    const std::uint32_t lineIntervalMs_;

    mutable std::mutex mutex_;  // guards everything below and every write to output_
    std::condition_variable closed_;
    bool ran_ = false;
    bool open_ = false;
    std::optional<DialogFace> face_;
    std::string caption_;
    std::string writtenCaption_;
    std::string status_;
    int percent_ = 0;
    std::vector<std::string> languages_;
    int selected_ = -1;
    std::string lastLine_;
    bool lineOpen_ = false;  // in place: a line is on screen without its newline
    bool pending_ = false;   // plain: a change is held back by the interval
    std::optional<std::uint32_t> lastWriteMs_;
};

}  // namespace qelt::Updater

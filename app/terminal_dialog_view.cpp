#include "app/terminal_dialog_view.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <ostream>

namespace qelt::Updater {
namespace {

constexpr int kBarWidth = 30;
constexpr const char* kLanguagePrompt = "Please select the language for your download:";

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

TerminalDialogView::TerminalDialogView(std::istream& input, std::ostream& output, bool redrawInPlace,
                                       MillisecondClock clock, std::uint32_t lineIntervalMs)
    : input_(input),
      output_(output),
      redrawInPlace_(redrawInPlace),
      clock_(std::move(clock)),
      lineIntervalMs_(lineIntervalMs) {}

void TerminalDialogView::RunModal(DialogViewEvents& events) {
    {
        std::lock_guard lock(mutex_);
        if (ran_) return;
        ran_ = open_ = true;
    }
    events.OnInitialize();
    while (ShowsLanguagePage()) {
        if (const auto chosen = PromptForLanguage()) {
            events.OnOk(*chosen);
        } else {
            // Closed while the prompt waited (an interrupt): nothing left to cancel.
            if (ShowsLanguagePage()) events.OnCancel();
            break;
        }
    }
    std::unique_lock lock(mutex_);
    closed_.wait(lock, [this] { return !open_; });
}

bool TerminalDialogView::ShowsLanguagePage() const {
    std::lock_guard lock(mutex_);
    return open_ && face_ == DialogFace::LanguagePage;
}

std::optional<int> TerminalDialogView::PromptForLanguage() {
    std::unique_lock lock(mutex_);
    output_ << kLanguagePrompt << '\n';
    for (std::size_t i = 0; i < languages_.size(); ++i)
        output_ << "  " << i + 1 << ") " << languages_[i] << '\n';
    const int count = static_cast<int>(languages_.size());
    for (;;) {
        output_ << "Language";
        if (selected_ >= 0) output_ << " [" << selected_ + 1 << "]";
        output_ << ": " << std::flush;
        lock.unlock();
        std::string line;
        const bool answered = static_cast<bool>(std::getline(input_, line));
        lock.lock();
        // The window closed while the prompt waited (Ctrl-C asks for that from another thread): the answer
        // that ended the wait must not start the transfers the user has just cancelled.
        if (!open_) return std::nullopt;
        // Typed answers end their own line on a terminal; elsewhere the next text would follow the prompt.
        if (!redrawInPlace_) output_ << '\n';
        const std::string answer = Trim(line);
        if (!answered || answer == "q") return std::nullopt;
        if (answer.empty() && selected_ >= 0) return selected_;
        int number = 0;
        const auto [end, error] = std::from_chars(answer.data(), answer.data() + answer.size(), number);
        if (error == std::errc() && end == answer.data() + answer.size() && number >= 1 && number <= count) {
            selected_ = number - 1;
            return selected_;
        }
        output_ << "Please answer with a number from 1 to " << count << ", or q to quit.\n";
    }
}

void TerminalDialogView::Close() {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    EndLine();
    output_ << std::flush;
    open_ = false;
    closed_.notify_all();
}

void TerminalDialogView::ShowFace(DialogFace face) {
    std::lock_guard lock(mutex_);
    if (!open_ || face_ == face) return;
    EndLine();
    face_ = face;
    lastLine_.clear();
    // The launch face says what it launches; the remaining time of the page before would be stale.
    if (face == DialogFace::LaunchFace) status_.clear();
    WriteCaption();
    if (face != DialogFace::LanguagePage) Draw(true);
}

void TerminalDialogView::SetCaption(const std::string& text) {
    std::lock_guard lock(mutex_);
    caption_ = text;
}

void TerminalDialogView::SetStatusText(const std::string& text) {
    std::lock_guard lock(mutex_);
    status_ = text;
    Draw(false);
}

void TerminalDialogView::SetProgress(int percent) {
    std::lock_guard lock(mutex_);
    percent_ = std::clamp(percent, 0, 100);
    Draw(percent_ == 100);
}

void TerminalDialogView::StartMarquee() {
    // A terminal line has no animation to start; the launch face already says what is happening.
}

void TerminalDialogView::SetLanguages(const std::vector<std::string>& displayNames) {
    std::lock_guard lock(mutex_);
    languages_ = displayNames;
    selected_ = languages_.empty() ? -1 : 0;
}

int TerminalDialogView::GetSelectedLanguage() const {
    std::lock_guard lock(mutex_);
    return selected_;
}

void TerminalDialogView::ShowMessageBox(const std::string& text, const std::string& caption) {
    std::lock_guard lock(mutex_);
    EndLine();
    output_ << caption << ": " << text << std::endl;
}

std::string TerminalDialogView::RenderLine() const {
    if (face_ == DialogFace::LaunchFace) return status_;
    const int filled = percent_ * kBarWidth / 100;
    const std::string percent = std::to_string(percent_);
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict on "[" + std::string(...).
    std::string line;
    line.reserve(kBarWidth + status_.size() + 8);
    line += '[';
    line.append(filled, '#').append(kBarWidth - filled, '-').append("] ");
    line.append(3 - percent.size(), ' ').append(percent).append("% ").append(status_);
    return line;
}

void TerminalDialogView::Draw(bool force) {
    if (!open_ || !face_ || *face_ == DialogFace::LanguagePage) return;
    if (*face_ == DialogFace::LaunchFace && status_.empty()) return;
    // The first line of a face is never held back.
    force = force || lastLine_.empty();
    std::string line = RenderLine();
    if (redrawInPlace_) {
        if (lineOpen_ && line == lastLine_) return;
        // The terminal clears what a longer previous line leaves behind ("erase to end of line"): padding with
        // spaces would count bytes, and a translated text has several per column, so the padding could run past
        // the terminal's width, wrap, and leave the old line standing above the new one.
        output_ << '\r' << line << "\x1b[K" << std::flush;
        lineOpen_ = true;
    } else {
        if (line == lastLine_) {
            pending_ = false;
            return;
        }
        const std::uint32_t now = clock_();
        if (!force && lastWriteMs_ && now - *lastWriteMs_ < lineIntervalMs_) {
            pending_ = true;
            return;
        }
        output_ << line << '\n' << std::flush;
        lastWriteMs_ = now;
        pending_ = false;
    }
    lastLine_ = std::move(line);
}

void TerminalDialogView::EndLine() {
    if (lineOpen_) {
        output_ << '\n';
        lineOpen_ = false;
    }
    if (pending_) Draw(true);
}

void TerminalDialogView::WriteCaption() {
    if (caption_.empty() || caption_ == writtenCaption_) return;
    output_ << caption_ << '\n';
    writtenCaption_ = caption_;
}

}  // namespace qelt::Updater

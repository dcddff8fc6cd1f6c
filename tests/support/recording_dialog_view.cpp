#include "tests/support/recording_dialog_view.h"

#include <algorithm>

namespace qelt::test {

using Updater::DialogFace;

void RecordingDialogView::PressOk(int languageIndex) {
    std::lock_guard lock(mutex_);
    inputs_.push_back({true, languageIndex});
    changed_.notify_all();
}

void RecordingDialogView::PressCancel() {
    std::lock_guard lock(mutex_);
    inputs_.push_back({false, -1});
    changed_.notify_all();
}

std::vector<std::string> RecordingDialogView::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool RecordingDialogView::WaitFor(const std::string& call, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return std::find(calls_.begin(), calls_.end(), call) != calls_.end(); });
}

bool RecordingDialogView::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void RecordingDialogView::RunModal(Updater::DialogViewEvents& events) {
    {
        std::lock_guard lock(mutex_);
        if (ran_) return;
        ran_ = running_ = true;
        changed_.notify_all();
    }
    events.OnInitialize();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closed_ || !inputs_.empty(); });
        if (closed_) break;
        const Input input = inputs_.front();
        inputs_.pop_front();
        lock.unlock();
        if (input.ok) {
            {
                std::lock_guard selection(mutex_);
                selected_ = input.languageIndex;
            }
            events.OnOk(input.languageIndex);
        } else {
            events.OnCancel();
        }
        lock.lock();
    }
    running_ = false;
    changed_.notify_all();
}

void RecordingDialogView::Close() {
    std::lock_guard lock(mutex_);
    calls_.push_back("Close");
    if (running_) closed_ = true;  // like a real view, a Close with no window open changes nothing
    changed_.notify_all();
}

void RecordingDialogView::ShowFace(DialogFace face) {
    switch (face) {
        case DialogFace::LanguagePage:
            return Record("Face language");
        case DialogFace::ProgressPage:
            return Record("Face progress");
        case DialogFace::LaunchFace:
            return Record("Face launch");
    }
}

void RecordingDialogView::SetCaption(const std::string& text) {
    Record("Caption " + text);
}

void RecordingDialogView::SetStatusText(const std::string& text) {
    Record("Status " + text);
}

void RecordingDialogView::SetProgress(int percent) {
    Record("Progress " + std::to_string(percent));
}

void RecordingDialogView::StartMarquee() {
    Record("Marquee");
}

void RecordingDialogView::SetLanguages(const std::vector<std::string>& displayNames) {
    std::string joined;
    for (const auto& name : displayNames)
        joined += (joined.empty() ? "" : "|") + name;
    std::lock_guard lock(mutex_);
    calls_.push_back("Languages " + joined);
    selected_ = displayNames.empty() ? -1 : 0;
    changed_.notify_all();
}

int RecordingDialogView::GetSelectedLanguage() const {
    std::lock_guard lock(mutex_);
    return selected_;
}

void RecordingDialogView::ShowMessageBox(const std::string& text, const std::string& caption) {
    Record("MessageBox " + caption + "|" + text);
}

void RecordingDialogView::Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
}

}  // namespace qelt::test

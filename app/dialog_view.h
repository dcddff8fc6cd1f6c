#pragma once

#include <string>
#include <vector>

namespace qelt::Updater {

// The three faces of the progress window. Only one row shows at a time:
// - LanguagePage: the language prompt, the language list and the OK button;
// - ProgressPage: the progress bar and the status line below it;
// - LaunchFace: the status line with a moving marquee bar in place of the progress bar.
enum class DialogFace { LanguagePage, ProgressPage, LaunchFace };

// What the user does to the window, reported to the dialog logic. Delivered on the view's main thread from
// inside DialogView::RunModal, with no lock of the view held, so a handler may call any view operation
// (a Close from a handler ends RunModal once the handler has returned).
class DialogViewEvents {
public:
    DialogViewEvents() = default;
    DialogViewEvents(const DialogViewEvents&) = delete;
    DialogViewEvents& operator=(const DialogViewEvents&) = delete;
    virtual ~DialogViewEvents() = default;

    // The window exists but is not shown yet: the moment to set its texts and choose its first face. The first
    // event of every RunModal, delivered once.
    virtual void OnInitialize() = 0;
    // OK was pressed (the button, or Enter while the language page shows). `languageIndex` is the entry of the
    // language list selected at that moment, -1 when none is.
    virtual void OnOk(int languageIndex) = 0;
    // The user asked to end: Escape, the close box, or refusing the terminal's language prompt. The view does
    // not close itself; the dialog answers with Close.
    virtual void OnCancel() = 0;
};

// The window of the progress dialog, as the dialog logic sees it: faces, texts, the progress position, the
// marquee, the language list, a message box and the modal run. Implementations hold no logic of their own
// beyond presentation.
//
// Threads. RunModal runs on the main thread, the thread that created the view. Every other operation may be
// called from the main thread (typically from inside an event handler) and from one other thread, the transfer
// monitor's, while RunModal runs; such calls are carried out on the main thread and the caller waits for them,
// so a call that has returned has taken effect. Calls made while no window is open (before RunModal or after it
// has returned) change nothing, except ShowMessageBox. No operation throws.
class DialogView {
public:
    DialogView() = default;
    DialogView(const DialogView&) = delete;
    DialogView& operator=(const DialogView&) = delete;
    virtual ~DialogView() = default;

    // Opens the window, delivers OnInitialize, shows the window centred on the screen and runs until Close.
    // Called at most once; user events reach `events` only during this call.
    virtual void RunModal(DialogViewEvents& events) = 0;
    // Ends RunModal; when called from another thread, returns once the window is closed. Nothing happens when no
    // window is open.
    virtual void Close() = 0;

    virtual void ShowFace(DialogFace face) = 0;
    // The window caption.
    virtual void SetCaption(const std::string& text) = 0;
    // The status line under the progress bar (remaining time, or what is being launched).
    virtual void SetStatusText(const std::string& text) = 0;
    // The progress bar's position, 0 to 100; values outside are clamped.
    virtual void SetProgress(int percent) = 0;
    // Sets the marquee bar of the launch face moving.
    virtual void StartMarquee() = 0;
    // Replaces the language list's entries by `displayNames`, kept in this order, and selects the first.
    virtual void SetLanguages(const std::vector<std::string>& displayNames) = 0;
    // The selected entry of the language list, -1 when none is.
    virtual int GetSelectedLanguage() const = 0;

    // An error message box with `text` and `caption` and one OK button, modal to the window while it is open;
    // returns when the user has dismissed it. Also usable before RunModal (the start-up failure has no window).
    // When it cannot be shown (the window has gone and the caller is not the main thread) the message is written
    // where the user can still read it and the call returns at once.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
};

}  // namespace qelt::Updater

#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/gtk_main_thread.h"

namespace qelt::Updater {

// The progress window on GTK 3: the controls of the Windows dialog template at its proportions (dialog units
// converted with the metrics of the window's own font, as Windows converts them), a drawn window icon, centred
// on the screen. Only the language row or the progress row shows, by face; Enter presses OK while the language
// page shows; Escape and the close box report OnCancel. Message boxes are GTK dialogs with the error icon.
//
// The main thread is the thread that calls Create; calls from another thread are carried to the GTK main loop
// and wait for it (see DialogView). After RunModal has returned, such calls return at once without effect, and
// a message box from another thread is written to standard error instead.
class GtkDialogView final : public DialogView {
public:
    // Initialises GTK on the calling thread and builds the (hidden) window; nullptr when GTK cannot initialise,
    // typically because no display can be opened.
    static std::unique_ptr<GtkDialogView> Create();
    ~GtkDialogView() override;

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

    // Runs `call` on the GTK main thread and waits for it; false when it could not run (see GtkMainThread).
    // For tests and tools that look at the window from another thread, such as taking a screenshot.
    bool InvokeOnMainThread(const std::function<void()>& call) const;

private:
    struct Window;

    GtkDialogView();
    void RequestClose();

    mutable GtkMainThread mainThread_;
    std::unique_ptr<Window> window_;  // main thread only; null once RunModal has returned
};

}  // namespace qelt::Updater

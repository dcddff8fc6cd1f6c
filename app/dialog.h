#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "app/dialog_view.h"
#include "app/launch_options.h"
#include "app/transfer_monitor.h"

namespace qelt {

class SimpleLocale;
class TransferService;

namespace Updater {

// The bootstrapper's one window and what it does: it offers the language choice when a language list is
// configured, starts the downloader and skin transfers, shows the downloader's progress and remaining time, and
// when both transfers are complete writes the shortcut, starts the downloaded program, waits for it and closes.
// A transfer error ends in one message box, after which the dialog closes.
//
// Threads. ShowModal and the view's events (OnInitialize, OnOk, OnCancel) run on the main thread; the four
// monitor callbacks, the launch and the message boxes they raise run on the monitor thread; Close and
// RequestCancel may come from any thread. The lock guards only whether ShowModal has begun and whether the window
// is open; it is never held while the view, the service or the monitor is called. The transfer ids are written
// on the main thread before the transfers are registered with the monitor; the completion flags and run paths
// only on the monitor thread.
//
// A singleton: CreateSingleton makes it once, and a process-exit hook deletes it. The service, the monitor and
// the locale are not owned; they must stay valid while the dialog runs and the monitor may call it.
class Dialog final : public TransferMonitorCallback, private DialogViewEvents {
public:
    // Throws std::logic_error("Dialog::CreateSingleton called multiple times") when a dialog exists.
    static Dialog& CreateSingleton(std::shared_ptr<DialogView> view, TransferService& service,
                                   TransferMonitorImpl& monitor, SimpleLocale& locale, LaunchOptions options);
    // Throws std::logic_error("Dialog::GetSingleton called without CreateSingleton") when none exists.
    static Dialog& GetSingleton();
    // Deletes the dialog, if any. The process-exit hook calls it; so may a caller that runs the entry routine
    // more than once in one process, once the routine has returned.
    static void DestroySingleton();

    ~Dialog() override;

    // Runs the window until it closes; a second call returns at once.
    void ShowModal();
    // Ends the dialog as its cancel command does. Nothing happens unless the window is open.
    void Close();
    // Close, also when it comes before the window has opened: the window then closes as soon as it opens,
    // before any transfer starts. For the user's interrupt (Ctrl-C), which may arrive at any moment.
    void RequestCancel();
    // An error box with `text` and the translated "{1} Downloader Error" caption; once the user has dismissed it,
    // Close.
    void ShowError(const std::string& text);

    void OnTransferProgress(const TransferStatus& status) override;
    void OnTransferReady(const TransferStatus& status) override;
    void OnTransferError(const TransferStatus& status) override;
    void OnTransferComplete(const TransferStatus& status) override;

private:
    Dialog(std::shared_ptr<DialogView> view, TransferService& service, TransferMonitorImpl& monitor,
           SimpleLocale& locale, LaunchOptions options);

    // The view's events.
    void OnInitialize() override;
    void OnOk(int languageIndex) override;
    void OnCancel() override;

    // Whether the window is open: ShowModal has begun and Close has not yet ended it.
    bool IsOpen() const;
    std::string Language() const;
    std::string GameName() const;
    void UpdateTexts();
    void FillLanguages();
    void ApplyLanguage(int languageIndex);
    void StartTransfers();
    // Shows the launch face, writes the shortcut and runs the downloaded program until it ends; whether it ran.
    bool Launch();
    void CreateShortcut();

    const std::shared_ptr<DialogView> view_;
    TransferService& service_;
    TransferMonitorImpl& monitor_;
    SimpleLocale& locale_;
    const LaunchOptions options_;

    mutable std::mutex mutex_;  // guards the three flags below
    bool started_ = false;
    bool windowOpen_ = false;
    bool cancelRequested_ = false;

    bool transfersStarted_ = false;  // main thread only
    std::string downloaderTransferId_;
    std::string skinTransferId_;
    std::string downloaderPath_;
    std::string skinPath_;
    bool downloaderDone_ = false;
    bool skinDone_ = false;
};

}  // namespace Updater
}  // namespace qelt

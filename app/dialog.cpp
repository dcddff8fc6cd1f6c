#include "app/dialog.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/error_message.h"
#include "app/launch_arguments.h"
#include "app/locale.h"
#include "app/paths.h"
#include "app/posix_process.h"
#include "app/posix_shortcut.h"
#include "app/transfer_service.h"
#include "base/path_rule.h"
#include "storage/posix_shared_file.h"

namespace qelt::Updater {
namespace {

std::mutex singletonMutex;
Dialog* singleton = nullptr;
std::once_flag exitHookOnce;

// 100 x transferred / total in double precision, so the product cannot overflow for any size; 0 without a total.
int ProgressPosition(std::uint64_t transferred, std::uint64_t total) {
    if (total == 0) return 0;
    return static_cast<int>(100.0 * static_cast<double>(transferred) / static_cast<double>(total));
}

}  // namespace

Dialog& Dialog::CreateSingleton(std::shared_ptr<DialogView> view, TransferService& service,
                                TransferMonitorImpl& monitor, SimpleLocale& locale, LaunchOptions options) {
    std::lock_guard lock(singletonMutex);
    if (singleton) throw std::logic_error("Dialog::CreateSingleton called multiple times");
    singleton = new Dialog(std::move(view), service, monitor, locale, std::move(options));
    std::call_once(exitHookOnce, [] { std::atexit(&Dialog::DestroySingleton); });
    return *singleton;
}

Dialog& Dialog::GetSingleton() {
    std::lock_guard lock(singletonMutex);
    if (!singleton) throw std::logic_error("Dialog::GetSingleton called without CreateSingleton");
    return *singleton;
}

void Dialog::DestroySingleton() {
    Dialog* dialog = nullptr;
    {
        std::lock_guard lock(singletonMutex);
        std::swap(dialog, singleton);
    }
    delete dialog;
}

Dialog::Dialog(std::shared_ptr<DialogView> view, TransferService& service, TransferMonitorImpl& monitor,
               SimpleLocale& locale, LaunchOptions options)
    : view_(std::move(view)),
      service_(service),
      monitor_(monitor),
      locale_(locale),
      options_(std::move(options)) {}

Dialog::~Dialog() {
    Close();
}

void Dialog::ShowModal() {
    {
        std::lock_guard lock(mutex_);
        if (started_) return;
        started_ = true;
    }
    view_->RunModal(*this);
}

void Dialog::Close() {
    {
        std::lock_guard lock(mutex_);
        if (!started_ || !windowOpen_) return;
        windowOpen_ = false;
    }
    view_->Close();
}

void Dialog::RequestCancel() {
    {
        std::lock_guard lock(mutex_);
        cancelRequested_ = true;
    }
    Close();
}

void Dialog::ShowError(const std::string& text) {
    view_->ShowMessageBox(text, locale_.TranslateWith(kErrorCaptionMessage, GameName()));
    Close();
}

bool Dialog::IsOpen() const {
    std::lock_guard lock(mutex_);
    return started_ && windowOpen_;
}

std::string Dialog::Language() const {
    return locale_.GetLanguage();
}

std::string Dialog::GameName() const {
    return options_.GetGameName(Language());
}

void Dialog::OnInitialize() {
    bool cancel = false;
    {
        std::lock_guard lock(mutex_);
        windowOpen_ = true;
        cancel = cancelRequested_;
    }
    UpdateTexts();
    if (cancel) {
        Close();
    } else if (options_.languages.empty()) {
        StartTransfers();
    } else {
        FillLanguages();
    }
}

void Dialog::OnOk(int languageIndex) {
    // OK belongs to the language page; once the transfers run there is nothing left for it to do.
    if (transfersStarted_) return;
    ApplyLanguage(languageIndex);
    StartTransfers();
}

void Dialog::OnCancel() {
    Close();
}

void Dialog::UpdateTexts() {
    view_->SetCaption(locale_.TranslateWith(kWindowTitleMessage, GameName()));
    view_->SetStatusText(locale_.FormatRemainingTime(-1));
}

void Dialog::FillLanguages() {
    std::vector<std::string> names;
    for (const auto& language : options_.languages)
        names.push_back(language.displayName);
    view_->SetLanguages(names);
    view_->ShowFace(DialogFace::LanguagePage);
}

void Dialog::ApplyLanguage(int languageIndex) {
    if (languageIndex >= 0 && static_cast<std::size_t>(languageIndex) < options_.languages.size())
        locale_.SetLanguage(options_.languages[languageIndex].code);
    UpdateTexts();
}

void Dialog::StartTransfers() {
    if (transfersStarted_) return;
    transfersStarted_ = true;
    view_->ShowFace(DialogFace::ProgressPage);
    const TransferStatus downloader =
        service_.CreateTransfer(options_.downloaderPartnerId, options_.downloaderPackageId, UnspecifiedVersion);
    const TransferStatus skin =
        service_.CreateTransfer(options_.partnerId, options_.GetSkinPackageId(Language()), options_.skinVersion);
    downloaderTransferId_ = downloader.transferId;
    skinTransferId_ = skin.transferId;
    // Without a transfer there is nothing to wait for: say so rather than leave the window open for good.
    for (const TransferStatus* created : {&downloader, &skin}) {
        if (created->transferId.empty()) {
            ShowError(locale_.Translate(ErrorMessage(created->error)));
            return;
        }
    }
    monitor_.Register(downloaderTransferId_, this);
    monitor_.Register(skinTransferId_, this);
}

void Dialog::OnTransferProgress(const TransferStatus& status) {
    if (!IsOpen()) return;
    // Only the downloader's progress is shown; the skin is small beside it.
    if (status.transferId != downloaderTransferId_ || status.state != TransferState::Transferring ||
        status.error != TransferError::None)
        return;
    view_->SetProgress(ProgressPosition(status.bytesTransferred, status.bytesTotal));
    view_->SetStatusText(locale_.FormatRemainingTime(status.secondsRemaining));
}

void Dialog::OnTransferReady(const TransferStatus& status) {
    // Once the dialog has ended nothing more is fetched: the user cancelled or has been told of an error.
    if (!IsOpen()) return;
    const std::string destination =
        status.transferId == skinTransferId_ ? options_.GetSkinFolder(Language()) : options_.dataFolder;
    if (!CheckDataFolder(destination)) {
        ShowError(locale_.Translate(ErrorMessage(TransferError::DiskAccessError)));
        return;
    }
    service_.StartTransfer(status.transferId, destination);
    monitor_.Register(status.transferId, this);
}

void Dialog::OnTransferError(const TransferStatus& status) {
    OnTransferComplete(status);
}

void Dialog::OnTransferComplete(const TransferStatus& status) {
    // After the dialog has ended, a second failing transfer would only repeat the message the user has seen, and
    // a late completion must not start a program the user has cancelled.
    if (!IsOpen()) return;
    const bool downloader = status.transferId == downloaderTransferId_;
    const bool skin = status.transferId == skinTransferId_;
    if (!downloader && !skin) return;
    if (status.error != TransferError::None) {
        ShowError(locale_.Translate(ErrorMessage(status.error)));
        return;
    }
    if (status.state == TransferState::Complete) {
        if (downloader) {
            downloaderDone_ = true;
            downloaderPath_ = status.runPath;
        }
        if (skin) {
            skinDone_ = true;
            skinPath_ = status.runPath;
        }
    }
    if (!downloaderDone_ || !skinDone_) return;
    if (Launch()) {
        Close();
    } else {
        ShowError(locale_.TranslateWith(LaunchFailureMessage(), GameName()));
    }
}

bool Dialog::Launch() {
    view_->ShowFace(DialogFace::LaunchFace);
    view_->StartMarquee();
    view_->SetStatusText(locale_.TranslateWith(kLaunchingMessage, GameName()));
    CreateShortcut();
    try {
        PosixProcess program(ResolvePath(options_.dataFolder, downloaderPath_));
        return program.Launch(true, BuildLaunchArguments(options_, Language(), skinPath_), {});
    } catch (...) {
        return false;
    }
}

void Dialog::CreateShortcut() {
    // A shortcut is a convenience: the launch goes on without one.
    try {
        PosixSharedFileFactory files;
        PosixShortcut shortcut(options_.GetGamePackageId(Language()),
                               ResolvePath(options_.dataFolder, "shortcuts"), files);
        shortcut.Create(options_.programPath);
    } catch (...) {
    }
}

}  // namespace qelt::Updater

#include "tools/qelt_fetch/fetch_runner.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include "app/error_message.h"
#include "app/launch_options.h"
#include "app/locale.h"
#include "app/transfer_service.h"
#include "tools/qelt_fetch/fetch_progress.h"

namespace qelt::fetch {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// As often as the bootstrapper's monitor reads a status.
constexpr auto kPollInterval = 100ms;
constexpr const char* kPrefix = "qelt-fetch: ";

// A network that failed or a mirror that sent bad bytes may well do better a little later; a disk that is full
// or refuses writing, and a machine out of memory, need the user first.
bool WorthRetrying(TransferError error) {
    switch (error) {
        case TransferError::MemoryError:
        case TransferError::DiskFullError:
        case TransferError::DiskAccessError:
        case TransferError::DiskWriteError:
            return false;
        default:
            return true;
    }
}

std::string Seconds(std::chrono::milliseconds delay) {
    const auto count = delay.count();
    std::string text = std::to_string(count / 1000);
    if (count % 1000 != 0) {
        std::string fraction = std::to_string(count % 1000);
        fraction.insert(0, 3 - fraction.size(), '0');
        text += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
    }
    return text + " s";
}

class Fetch {
public:
    Fetch(const FetchOptions& options, FetchConsole& console)
        : options_(options), console_(console), progress_(console.err, console.errIsTerminal, console.locale) {}

    int Run() {
        // As the bootstrapper's dialog does for its folders: one that cannot be made is a disk the user may not
        // write.
        std::error_code error;
        const fs::path destination = fs::absolute(options_.destination, error).lexically_normal();
        if (!error) fs::create_directories(destination, error);
        if (error || !fs::is_directory(destination)) return Fail(TransferError::DiskAccessError);
        destination_ = destination.string();

        TransferSettings settings;
        LaunchOptions launch;
        launch.manifestHost = options_.host;
        launch.logLevel = options_.logMask;
        ApplyLaunchOptions(settings, launch);
        service_ = std::make_unique<TransferService>(
            settings, DeploymentValues{options_.analyticsHost, options_.analyticsHost});

        console_.err << kPrefix << "fetching package " << options_.packageId << " ("
                     << (options_.versionId == UnspecifiedVersion ? "current version" : options_.versionId)
                     << ") from " << options_.host << " into " << destination_ << '\n'
                     << std::flush;
        const TransferStatus created =
            service_->CreateTransfer(options_.partnerId, options_.packageId, options_.versionId);
        if (created.transferId.empty()) return Fail(TransferError::InternalError);
        id_ = created.transferId;
        return Watch();
    }

private:
    int Watch() {
        for (;;) {
            if (const int signal = console_.interruptSignal()) return Interrupted(signal);
            const TransferStatus status = service_->GetTransferStatus(id_);
            if (status.HasFatalError()) return Fail(status.error);
            if (status.HasRetryableError()) {
                if (const auto end = RetryOrEnd(status)) return *end;
                continue;
            }
            switch (status.state) {
                case TransferState::Initializing:
                case TransferState::InitializingPaused:
                    break;
                case TransferState::Initialized: {
                    const TransferStatus started = service_->StartTransfer(id_, destination_);
                    // A start refused without an error to tell why leaves nothing to wait for.
                    if (started.state != TransferState::Transferring && started.error == TransferError::None)
                        return Fail(TransferError::InternalError);
                    break;
                }
                case TransferState::Transferring:
                case TransferState::TransferringPaused:
                    progress_.Update(status);
                    break;
                case TransferState::Complete:
                    if (status.bytesVerified != status.bytesTotal) return Fail(TransferError::InternalError);
                    return Complete(status);
                default:
                    // Unknown, Suspended or Cancelled: nobody else suspends or cancels this transfer.
                    return Fail(TransferError::InternalError);
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    }

    // Retries the transfer after the pause, or ends the run: the exit code then.
    std::optional<int> RetryOrEnd(const TransferStatus& status) {
        // Retries count in a row: one after which chunks were verified was worth it, and the count starts again.
        if (status.bytesVerified > verifiedAtRetry_) retriesInARow_ = 0;
        if (!WorthRetrying(status.error) || retriesInARow_ >= options_.retries) return Fail(status.error);
        ++retriesInARow_;
        verifiedAtRetry_ = status.bytesVerified;
        progress_.Finish();
        console_.err << kPrefix << console_.locale.Translate(ErrorMessage(status.error)) << '\n'
                     << kPrefix << "retrying in " << Seconds(options_.retryDelay) << " (retry " << retriesInARow_
                     << " of " << options_.retries << ")." << '\n'
                     << std::flush;
        const auto until = std::chrono::steady_clock::now() + options_.retryDelay;
        while (std::chrono::steady_clock::now() < until) {
            if (const int signal = console_.interruptSignal()) return Interrupted(signal);
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                kPollInterval, until - std::chrono::steady_clock::now()));
        }
        if (const auto transfer = FindTransfer()) transfer->Retry();
        return std::nullopt;
    }

    int Complete(const TransferStatus& status) {
        progress_.Update(status);
        progress_.Finish();
        console_.out << "Fetched package " << status.packageId << " version " << status.versionId << " into "
                     << destination_ << ": " << console_.locale.FormatSize(status.bytesVerified) << ", verified."
                     << std::endl;
        DropRecord();
        return kExitComplete;
    }

    int Fail(TransferError error) {
        progress_.Finish();
        console_.err << kPrefix << console_.locale.Translate(ErrorMessage(error)) << std::endl;
        DropRecord();
        return kExitFailed;
    }

    int Interrupted(int signal) {
        progress_.Finish();
        // Suspending stops every work at once and keeps what was written: the next run verifies it in place.
        if (const auto transfer = FindTransfer()) transfer->Suspend();
        console_.err << kPrefix
                     << "interrupted; the transfer is suspended and the files keep every chunk fetched so far. "
                        "Run the same command again to continue."
                     << std::endl;
        return 128 + signal;
    }

    // A record serves to restore a transfer by its id, which this program never does: one that has ended leaves
    // none behind. Cancelling keeps the files and changes nothing else for a transfer that has ended.
    void DropRecord() {
        if (const auto transfer = FindTransfer()) transfer->Cancel(false);
    }

    std::shared_ptr<Transfer> FindTransfer() {
        if (!service_ || id_.empty()) return nullptr;
        return service_->Transfers().FindTransfer(id_, service_->Behavior());
    }

    const FetchOptions& options_;
    FetchConsole& console_;
    FetchProgress progress_;
    // Its destruction suspends what still runs and waits for the pools to finish.
    std::unique_ptr<TransferService> service_;
    std::string destination_;
    std::string id_;
    unsigned retriesInARow_ = 0;
    std::uint64_t verifiedAtRetry_ = 0;
};

}  // namespace

int RunFetch(const FetchOptions& options, FetchConsole& console) {
    try {
        Fetch fetch(options, console);
        return fetch.Run();
    } catch (const std::bad_alloc&) {
        console.err << kPrefix << console.locale.Translate(ErrorMessage(TransferError::MemoryError)) << std::endl;
    } catch (...) {
        console.err << kPrefix << console.locale.Translate(ErrorMessage(TransferError::InternalError))
                    << std::endl;
    }
    return kExitFailed;
}

}  // namespace qelt::fetch

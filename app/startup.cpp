#include "app/startup.h"

#include <algorithm>
#include <optional>

#include "app/dialog.h"
#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "app/paths.h"
#include "app/posix_interrupt_watcher.h"
#include "app/transfer_settings.h"

namespace qelt {

bool IsHeadless(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), kHeadlessArgument) != arguments.end();
}

int RunBootstrapper(const std::vector<std::string>& arguments, const BootstrapperPlatform& platform) {
    // First, so that every thread started below (the window toolkit's, the engine's pools, the monitor) leaves
    // the interrupt to the main thread.
    std::optional<PosixInterruptWatcher> interrupts;
    if (platform.cancelOnInterrupt) interrupts.emplace();

    LaunchOptions options = LaunchOptions::Load(platform.loadString, arguments, UserTemporaryDirectory());
    options.programPath = RunningProgramPath(options.programPath);

    TransferSettings settings;
    ApplyLaunchOptions(settings, options);

    EmbeddedMessageCatalog catalog("updater");
    AddEmbeddedLanguageFolders(catalog);
    CustomBoostLocale locale(catalog, "");
    if (!options.languages.empty()) locale.SetLanguage(options.GetDefaultLanguage());

    // The window is made before the engine so that it outlives the monitor thread, which calls it until the
    // monitor is destroyed.
    const std::shared_ptr<Updater::DialogView> view = platform.makeView(IsHeadless(arguments));

    auto service = std::make_unique<TransferService>(settings, platform.deployment);
    auto monitor = std::make_unique<TransferMonitorImpl>(*service);
    monitor->Start();

    Updater::Dialog& dialog = Updater::Dialog::CreateSingleton(view, *service, *monitor, locale, options);
    if (interrupts) interrupts->Enable([&dialog] { dialog.RequestCancel(); });
    if (CheckDataFolder(options.dataFolder)) {
        dialog.ShowModal();
    } else {
        dialog.ShowError(locale.Translate(ErrorMessage(TransferError::DiskAccessError)));
    }

    // The monitor first, so no status is read from a service going away; the service suspends what still runs.
    monitor.reset();
    service.reset();
    return 0;
}

}  // namespace qelt

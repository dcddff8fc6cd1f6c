#include "app/startup.h"

#include <algorithm>

#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "app/paths.h"
#include "app/transfer_settings.h"

namespace qelt {

bool IsHeadless(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), kHeadlessArgument) != arguments.end();
}

int RunBootstrapper(const std::vector<std::string>& arguments, const BootstrapperPlatform& platform) {
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

    // TODO(#18): the TransferService over `settings`, the TransferMonitorImpl over it (started), and the
    // Updater::Dialog singleton over the service, the monitor, `locale`, `options` and `view` are built here,
    // the dialog runs modally when the data folder check passes, and teardown destroys the monitor, then the
    // service.
    if (!CheckDataFolder(options.dataFolder)) {
        view->ShowMessageBox(
            locale.Translate(ErrorMessage(TransferError::DiskAccessError)),
            locale.TranslateWith(kErrorCaptionMessage, options.GetGameName(locale.GetLanguage())));
    }
    return 0;
}

}  // namespace qelt

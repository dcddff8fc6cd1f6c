#include "app/startup.h"

#include <ostream>

#include "app/launch_options.h"
#include "app/paths.h"
#include "app/transfer_settings.h"
#include "resources/string_table.h"

namespace qelt {

int RunBootstrapper(const std::vector<std::string>& arguments, std::ostream& errors) {
    LaunchOptions options = LaunchOptions::Load([](unsigned id) { return LoadResourceString(id); }, arguments,
                                                UserTemporaryDirectory());
    options.programPath = RunningProgramPath(options.programPath);

    TransferSettings settings;
    ApplyLaunchOptions(settings, options);

    if (!CheckDataFolder(options.dataFolder)) {
        errors << options.GetGameName("") << " Downloader Error: "
               << "We're having some trouble writing to your disk. Can you make sure your user account has "
                  "sufficient permissions and try again?\n";
    }
    return 0;
}

}  // namespace qelt

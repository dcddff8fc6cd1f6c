#include "app/launch_arguments.h"

#include <sstream>

#include "base/path_rule.h"
#include "base/version_placeholder.h"

namespace qelt {

std::string BuildLaunchArguments(const LaunchOptions& options, const std::string& languageCode,
                                 const std::string& skinPath) {
    std::ostringstream out;
    const auto option = [&out](const char* label, const std::string& value) {
        out << label << '"' << value << '"';
    };
    if (!options.manifestHost.empty()) option(" /host ", options.manifestHost);
    if (!options.partnerId.empty()) option(" /id ", options.partnerId);
    option(" /package ", options.GetGamePackageId(languageCode));
    option(" /name ", options.GetGameName(languageCode));
    option(" /folder ", options.GetInstallFolder(languageCode));
    if (!languageCode.empty()) option(" /locale ", languageCode);
    if (options.packageVersion != UnspecifiedVersion) option(" /version ", options.packageVersion);
    if (!skinPath.empty()) option(" /skin ", ResolvePath(options.GetSkinPackageId(languageCode), skinPath));
    if (options.logLevel != -9) option(" /log ", std::to_string(options.logLevel));
    return out.str();
}

}  // namespace qelt

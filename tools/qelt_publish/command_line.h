#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/qelt_publish/publish_options.h"

namespace qelt::publish {

// What the program was asked to do.
struct Command {
    enum class Kind {
        Help,     // print UsageText() and exit 0
        Publish,  // publish `publish`
        Check,    // verify every published file under `checkRoot`
    };
    Kind kind = Kind::Help;
    PublishOptions publish;
    std::filesystem::path checkRoot;
};

// Reads the arguments after the program name. Options take their value as the next argument or after "=";
// "--" ends the options. Throws UsageError for anything missing, unknown, repeated or malformed.
Command ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string UsageText();

}  // namespace qelt::publish

#pragma once

#include <string>

#include "app/launch_options.h"

namespace qelt {

// The argument string handed to the downloaded program. Each option is a space, a slash, its word, a space and
// the value in double quotes, in this order: /host and /id when non-empty, /package, /name and /folder always,
// /locale when a language is chosen, /version unless it is "?", /skin (the skin package's folder name joined with
// `skinPath`) when `skinPath` is non-empty, /log unless it is -9. Values are written as they are, quotes
// included: the format is what the started program has always parsed. Keyed values are read for
// `languageCode`, the locale's language.
std::string BuildLaunchArguments(const LaunchOptions& options, const std::string& languageCode,
                                 const std::string& skinPath);

}  // namespace qelt

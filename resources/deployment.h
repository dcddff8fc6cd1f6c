#pragma once

#include <string_view>

namespace qelt::deployment {

// Hosts compiled in at configure time. Only the composition root reads these.
std::string_view DefaultManifestHost();
std::string_view AnalyticsEventsHost();
std::string_view AnalyticsTransferHost();
std::string_view SupportHost();

}  // namespace qelt::deployment

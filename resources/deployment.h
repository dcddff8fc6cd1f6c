#pragma once

#include <string_view>

namespace qelt::deployment {

// Hosts compiled in at configure time. Read only where the program's defaults are made (the composition root
// and the defaults of TransferSettings), so that every component takes its host as an argument and tests can
// point it at a loopback server.
std::string_view DefaultManifestHost();
std::string_view AnalyticsEventsHost();
std::string_view AnalyticsTransferHost();
std::string_view SupportHost();

}  // namespace qelt::deployment

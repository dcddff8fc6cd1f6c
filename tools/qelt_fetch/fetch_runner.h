#pragma once

#include <functional>
#include <iosfwd>

#include "tools/qelt_fetch/fetch_options.h"

namespace qelt {
class SimpleLocale;
}

namespace qelt::fetch {

inline constexpr int kExitComplete = 0;
inline constexpr int kExitFailed = 1;

// What a fetch reports to and reads from its surroundings.
struct FetchConsole {
    std::ostream& out;           // the closing line of a complete fetch
    std::ostream& err;           // progress, retries and the error message
    bool errIsTerminal = false;  // progress is redrawn in place
    const SimpleLocale& locale;  // translates the error messages and formats sizes and times
    // The number of a stop signal received so far, 0 when none.
    std::function<int()> interruptSignal = [] { return 0; };
};

// Fetches the package of `options` into its destination through a TransferService of its own: creates the
// transfer, starts it into the destination once the manifests are read, retries as the options say and waits
// for the end. Answers kExitComplete when every chunk is verified, kExitFailed after writing the error's message,
// and 128 + the signal number when interrupted: the transfer is suspended first, so the next run continues
// from what the files hold. Never throws.
int RunFetch(const FetchOptions& options, FetchConsole& console);

}  // namespace qelt::fetch

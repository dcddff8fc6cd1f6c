#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "base/clock.h"
#include "transfer/transfer_status.h"

namespace qelt {
class SimpleLocale;
}

namespace qelt::fetch {

// The progress of one transfer as text on a stream (standard error in the program):
//   [#############-----------------]  42% 12.50 MB of 30.00 MB, 2.10 MB/s, 2 minutes remaining
// On a terminal (`redrawInPlace`) the line is redrawn after a carriage return whenever it changes. For logs and
// pipes the bar is left out and a changed line is written as a line of its own at most every `lineIntervalMs`,
// and always for the first and the last status, so a log shows where a run began and ended. Sizes and the
// remaining time are the locale's texts. Used from one thread.
class FetchProgress {
public:
    FetchProgress(std::ostream& output, bool redrawInPlace, const SimpleLocale& locale,
                  MillisecondClock clock = SystemMillisecondClock(), std::uint32_t lineIntervalMs = 2000);

    // Shows the status of a transfer that is downloading or complete; other states are not shown.
    void Update(const TransferStatus& status);
    // Writes what plain output still holds back and ends a line drawn in place, before other text follows.
    void Finish();

    // The line for a status, without the bar.
    std::string Describe(const TransferStatus& status) const;

private:
    void Write(const std::string& line, bool force);

    std::ostream& output_;
    const bool redrawInPlace_;
    const SimpleLocale& locale_;
    const MillisecondClock clock_;
    const std::uint32_t lineIntervalMs_;
    std::string lastLine_;
    std::string heldBack_;
    bool lineOpen_ = false;
    std::optional<std::uint32_t> lastWriteMs_;
};

}  // namespace qelt::fetch

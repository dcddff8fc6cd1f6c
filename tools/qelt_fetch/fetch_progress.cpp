#include "tools/qelt_fetch/fetch_progress.h"

#include <algorithm>
#include <ostream>

#include "app/locale.h"

namespace qelt::fetch {
namespace {

constexpr int kBarWidth = 30;

int Percent(const TransferStatus& status) {
    if (status.bytesTotal == 0) return 0;
    const double fraction = static_cast<double>(status.bytesTransferred) / static_cast<double>(status.bytesTotal);
    return std::clamp(static_cast<int>(fraction * 100), 0, 100);
}

}  // namespace

FetchProgress::FetchProgress(std::ostream& output, bool redrawInPlace, const SimpleLocale& locale,
                             MillisecondClock clock, std::uint32_t lineIntervalMs)
    : output_(output),
      redrawInPlace_(redrawInPlace),
      locale_(locale),
      clock_(std::move(clock)),
      lineIntervalMs_(lineIntervalMs) {}

std::string FetchProgress::Describe(const TransferStatus& status) const {
    std::string percent = std::to_string(Percent(status));
    percent.insert(0, 3 - std::min<std::size_t>(percent.size(), 3), ' ');
    std::string line = percent + "% " + locale_.FormatSize(status.bytesTransferred) + " of " +
                       locale_.FormatSize(status.bytesTotal);
    // A finished transfer has no rate or time left worth showing.
    if (status.state == TransferState::Complete) return line;
    return line + ", " + locale_.FormatSize(status.bytesPerSecond) + "/s, " +
           locale_.FormatRemainingTime(status.secondsRemaining);
}

void FetchProgress::Update(const TransferStatus& status) {
    const bool complete = status.state == TransferState::Complete;
    if (status.state != TransferState::Transferring && !complete) return;
    std::string line = Describe(status);
    if (redrawInPlace_) {
        const int filled = Percent(status) * kBarWidth / 100;
        line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " + line;
    }
    Write(line, complete);
}

void FetchProgress::Write(const std::string& line, bool force) {
    if (redrawInPlace_) {
        if (lineOpen_ && line == lastLine_) return;
        std::string padded = line;
        // Blank out what a longer previous line leaves behind.
        if (lineOpen_ && lastLine_.size() > line.size()) padded.append(lastLine_.size() - line.size(), ' ');
        output_ << '\r' << padded << std::flush;
        lineOpen_ = true;
        lastLine_ = line;
        return;
    }
    if (line == lastLine_) {
        heldBack_.clear();
        return;
    }
    const std::uint32_t now = clock_();
    if (!force && lastWriteMs_ && now - *lastWriteMs_ < lineIntervalMs_) {
        heldBack_ = line;
        return;
    }
    output_ << line << '\n' << std::flush;
    lastWriteMs_ = now;
    lastLine_ = line;
    heldBack_.clear();
}

void FetchProgress::Finish() {
    if (lineOpen_) {
        output_ << '\n' << std::flush;
        lineOpen_ = false;
        lastLine_.clear();
    }
    if (!heldBack_.empty()) Write(heldBack_, true);
}

}  // namespace qelt::fetch

#include "tools/qelt_publish/progress.h"

#include <cstdio>

#include "app/posix_terminal.h"

namespace qelt::publish {
namespace {

constexpr auto kQuietStart = std::chrono::milliseconds(300);

}  // namespace

TerminalProgress::TerminalProgress(std::string label)
    : label_(std::move(label)), enabled_(StandardErrorIsTerminal()), start_(std::chrono::steady_clock::now()) {}

TerminalProgress::~TerminalProgress() {
    Clear();
}

void TerminalProgress::Update(std::uint64_t done, std::uint64_t total) {
    if (!enabled_ || std::chrono::steady_clock::now() - start_ < kQuietStart) return;
    const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
    std::fprintf(stderr, "\r\033[K%s %s of %s (%d%%)", label_.c_str(), FormatBytes(done).c_str(),
                 FormatBytes(total).c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

void TerminalProgress::Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

std::string FormatBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

}  // namespace qelt::publish

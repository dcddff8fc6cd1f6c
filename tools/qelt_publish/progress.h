#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qelt::publish {

// A one-line progress display on standard error, drawn only when standard error is a terminal and only once a
// run has lasted long enough to be worth watching. Used from one thread.
class TerminalProgress {
public:
    // `label` starts the line: "hashing", "copying", "checking".
    explicit TerminalProgress(std::string label);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void Update(std::uint64_t done, std::uint64_t total);
    // Erases the line, if one was drawn.
    void Clear();

private:
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

// "512.0 MiB", "3 bytes": a byte count for people.
std::string FormatBytes(std::uint64_t bytes);

}  // namespace qelt::publish

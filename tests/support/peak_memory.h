#pragma once

namespace qelt::test {

// The process's peak resident set so far, in MiB. Each test case runs in its own process under CTest, so a
// difference of two readings bounds what the code between them held at once.
long PeakResidentMiB();

// Sanitizers keep freed memory in quarantine and add shadow memory, so resident-size bounds hold only in plain
// builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kResidentSizeIsMeaningful = false;
#else
inline constexpr bool kResidentSizeIsMeaningful = true;
#endif

}  // namespace qelt::test

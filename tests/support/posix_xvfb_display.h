#pragma once

#include <sys/types.h>

#include <string>

namespace qelt::test {

// A private X server (Xvfb) for window tests. It chooses a free display number itself (-displayfd), so tests
// running at once never collide, and it is stopped in the destructor. When Xvfb is missing or does not come up,
// IsRunning is false and Failure says why, for the skip message.
class XvfbDisplay {
public:
    XvfbDisplay(int width, int height);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool IsRunning() const { return pid_ > 0; }
    // ":<n>", for DISPLAY.
    const std::string& Name() const { return name_; }
    const std::string& Failure() const { return failure_; }

private:
    void Stop();

    pid_t pid_ = -1;
    std::string name_;
    std::string failure_;
};

}  // namespace qelt::test

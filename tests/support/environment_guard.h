#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qelt::test {

// Sets an environment variable for the life of the object and restores the old value (or its absence) after.
class EnvironmentGuard {
public:
    EnvironmentGuard(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvironmentGuard() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
    EnvironmentGuard(const EnvironmentGuard&) = delete;
    EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace qelt::test

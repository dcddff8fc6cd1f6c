#pragma once

#include <stdexcept>
#include <string>

namespace qelt::publish {

// A failure the user has to act on. The text is one complete sentence naming the file, folder or value at fault;
// the program prints it and exits 1.
class PublishError : public std::runtime_error {
public:
    explicit PublishError(const std::string& message) : std::runtime_error(message) {}
};

// A command line the program cannot run; printed with a pointer to --help.
class UsageError : public PublishError {
public:
    using PublishError::PublishError;
};

// The user stopped the run (Ctrl-C) before anything was put in place.
class PublishInterrupted : public PublishError {
public:
    using PublishError::PublishError;
};

}  // namespace qelt::publish

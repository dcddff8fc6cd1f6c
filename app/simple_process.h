#pragma once

#include <string>
#include <utility>

namespace qelt {

// A program to start, named by its path (UTF-8). Used once, on the monitor thread.
class SimpleProcess {
public:
    explicit SimpleProcess(std::string path) : path_(std::move(path)) {}
    SimpleProcess(const SimpleProcess&) = delete;
    SimpleProcess& operator=(const SimpleProcess&) = delete;
    virtual ~SimpleProcess() = default;

    // Starts the program with `arguments` (one string, as a Windows command line after the program name) in
    // `workingFolder`, or in the folder that holds the program when that is empty. With `wait`, returns only when
    // the program has ended, however long that takes. True when the program was started and, with `wait`, waited
    // for; its exit code does not matter. A program that cannot be started gives false, never an exception.
    virtual bool Launch(bool wait, const std::string& arguments, const std::string& workingFolder) = 0;

    const std::string& GetPath() const { return path_; }

private:
    std::string path_;
};

}  // namespace qelt

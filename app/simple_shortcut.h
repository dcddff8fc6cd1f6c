#pragma once

#include <string>
#include <utility>

namespace qelt {

// An Internet-shortcut file (".url") named `name`, pointing at a program. Used once, on the monitor thread.
class SimpleShortcut {
public:
    explicit SimpleShortcut(std::string name) : name_(std::move(name)) {}
    SimpleShortcut(const SimpleShortcut&) = delete;
    SimpleShortcut& operator=(const SimpleShortcut&) = delete;
    virtual ~SimpleShortcut() = default;

    // Writes the shortcut to `targetPath`, replacing an existing one. False, and no new file, when the folder
    // cannot be made, the old file cannot be deleted or the new one cannot be written.
    virtual bool Create(const std::string& targetPath) = 0;
    // Copies the written shortcut to `folder`/`name`.url, replacing a file there; false on any failure.
    virtual bool CopyTo(const std::string& folder, const std::string& name) = 0;
    // Deletes `folder`/`name`.url; false on any failure.
    virtual bool Remove(const std::string& folder, const std::string& name) = 0;

    const std::string& GetName() const { return name_; }

private:
    std::string name_;
};

}  // namespace qelt

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/simple_shortcut.h"

namespace qelt {

class SharedFileFactory;

// Writes `name`.url into `folder` through `files`, which must outlive the shortcut. The file is UTF-16
// little-endian with a byte-order mark and CR LF line ends, in the format Windows reads:
//   [InternetShortcut]
//   URL=<file URL of the target>
//   IconFile=<the same URL>
//   IconIndex=0
class PosixShortcut : public SimpleShortcut {
public:
    PosixShortcut(std::string name, std::string folder, SharedFileFactory& files);

    bool Create(const std::string& targetPath) override;
    bool CopyTo(const std::string& folder, const std::string& name) override;
    bool Remove(const std::string& folder, const std::string& name) override;

private:
    std::string fileName_;
    std::string folder_;
    SharedFileFactory& files_;
};

// The file URL of a path made absolute: "file://" and the path with every byte other than letters, digits,
// "-", ".", "_", "~" and "/" percent-encoded (UTF-8 bytes included). Throws std::invalid_argument("Cannot
// convert path to URL") for an empty path or one holding a NUL.
std::string FileUrlFromPath(const std::string& path);

// The bytes of a shortcut file pointing at `url` (ASCII): byte-order mark, then the four lines in UTF-16LE.
std::vector<std::uint8_t> InternetShortcutBytes(const std::string& url);

}  // namespace qelt

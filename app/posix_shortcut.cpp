#include "app/posix_shortcut.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "storage/shared_file.h"

namespace qelt {
namespace {

namespace fs = std::filesystem;

bool IsUrlSafe(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string FileUrlFromPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        throw std::invalid_argument("Cannot convert path to URL");
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error) throw std::invalid_argument("Cannot convert path to URL");
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : absolute.generic_string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUrlSafe(byte)) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        }
    }
    return url;
}

std::vector<std::uint8_t> InternetShortcutBytes(const std::string& url) {
    const std::string text = "[InternetShortcut]\r\nURL=" + url + "\r\nIconFile=" + url + "\r\nIconIndex=0\r\n";
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    // Every character is ASCII (the URL is percent-encoded), so each becomes one UTF-16 code unit.
    for (const char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

PosixShortcut::PosixShortcut(std::string name, std::string folder, SharedFileFactory& files)
    : SimpleShortcut(std::move(name)), fileName_(GetName() + ".url"), folder_(std::move(folder)), files_(files) {}

bool PosixShortcut::Create(const std::string& targetPath) {
    try {
        // The URL first: a target that cannot be converted must not cost the user the old shortcut.
        const std::vector<std::uint8_t> bytes = InternetShortcutBytes(FileUrlFromPath(targetPath));
        std::error_code error;
        if (!fs::exists(folder_, error)) {
            fs::create_directories(folder_, error);
            if (!fs::exists(folder_, error)) return false;
        }
        if (fs::exists(fs::symlink_status(fs::path(folder_) / fileName_, error)) &&
            !files_.Delete(folder_, fileName_)) {
            return false;
        }
        auto file = files_.Open(folder_, fileName_, SharedFileMode::CreateNew, 0, kUnboundedUpperBound);
        try {
            file->Write(bytes.data(), 2);
            file->Write(bytes.data() + 2, static_cast<std::uint32_t>(bytes.size() - 2));
        } catch (...) {
            // A shortcut cut short would point nowhere; leave none.
            file.reset();
            files_.Delete(folder_, fileName_);
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool PosixShortcut::CopyTo(const std::string& folder, const std::string& name) {
    std::error_code error;
    fs::copy_file(fs::path(folder_) / fileName_, fs::path(folder) / (name + ".url"),
                  fs::copy_options::overwrite_existing, error);
    return !error;
}

bool PosixShortcut::Remove(const std::string& folder, const std::string& name) {
    return files_.Delete(folder, name + ".url");
}

}  // namespace qelt

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/qelt_publish/file_io.h"
#include "tools/qelt_publish/publish_error.h"

namespace qelt::publish {
namespace {

[[noreturn]] void Fail(const std::string& action, const std::filesystem::path& path, int error) {
    throw PublishError("Cannot " + action + " \"" + path.string() + "\": " + SystemErrorText(error) + ".");
}

}  // namespace

std::string SystemErrorText(int error) {
    return std::strerror(error);
}

InputFile::InputFile(const std::filesystem::path& path) : path_(path) {
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0) Fail("open", path, errno);
}

InputFile::~InputFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

std::uint64_t InputFile::Size() const {
    struct stat status {};
    if (::fstat(descriptor_, &status) != 0) Fail("read the size of", path_, errno);
    return static_cast<std::uint64_t>(status.st_size);
}

void InputFile::ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const {
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t done = ::pread(descriptor_, bytes, length, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) Fail("read", path_, errno);
        if (done == 0) {
            throw PublishError("The file \"" + path_.string() + "\" ended early: it changed while it was read.");
        }
        bytes += done;
        length -= static_cast<std::size_t>(done);
        offset += static_cast<std::uint64_t>(done);
    }
}

OutputFile::OutputFile(const std::filesystem::path& path, Mode mode) : path_(path) {
    const int flags = mode == Mode::CreateNew ? O_CREAT | O_EXCL : 0;
    descriptor_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
    if (descriptor_ < 0) Fail("create", path, errno);
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

void OutputFile::Reserve(std::uint64_t size) {
    if (size == 0) return;
    // posix_fallocate returns the error instead of setting errno.
    const int error = ::posix_fallocate(descriptor_, 0, static_cast<off_t>(size));
    // Some file systems cannot reserve; the writes then report a full disk themselves.
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) Fail("write", path_, error);
}

void OutputFile::WriteAt(const void* data, std::size_t length, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t done = ::pwrite(descriptor_, bytes, length, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) Fail("write", path_, errno);
        bytes += done;
        length -= static_cast<std::size_t>(done);
        offset += static_cast<std::uint64_t>(done);
    }
}

void OutputFile::SyncAndClose() {
    if (::fsync(descriptor_) != 0) Fail("write", path_, errno);
    Close();
}

void OutputFile::Close() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) Fail("write", path_, errno);
}

void WriteNewFile(const std::filesystem::path& path, const std::string& text) {
    OutputFile file(path);
    file.WriteAt(text.data(), text.size(), 0);
    file.SyncAndClose();
}

void SyncFileSystemOf(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) Fail("open", path, errno);
    const int result = ::syncfs(descriptor);
    const int error = errno;
    ::close(descriptor);
    if (result != 0) Fail("write", path, error);
}

}  // namespace qelt::publish

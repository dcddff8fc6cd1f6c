#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qelt::publish {

// Positional reads of one file. Safe to share between threads: ReadAt keeps no file position.
class InputFile {
public:
    // Throws PublishError naming the path.
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t Size() const;
    // Reads exactly `length` bytes at `offset`; throws PublishError on an error or when the file ends early.
    void ReadAt(void* buffer, std::size_t length, std::uint64_t offset) const;

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
};

// A file being written: a new one, created exclusively (never over an existing one) with the usual permissions
// of data files, or one created earlier, opened again. WriteAt may be called from several threads at once for
// different ranges.
class OutputFile {
public:
    enum class Mode { CreateNew, OpenExisting };

    // Throws PublishError naming the path.
    explicit OutputFile(const std::filesystem::path& path, Mode mode = Mode::CreateNew);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Reserves the blocks of `size` bytes, so that a full disk shows before any data is written.
    void Reserve(std::uint64_t size);
    void WriteAt(const void* data, std::size_t length, std::uint64_t offset);
    // Closes the file; a failure (a late write error of some file systems) throws PublishError.
    void Close();
    // Flushes the data to the disk and closes the file; any failure throws PublishError.
    void SyncAndClose();

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
};

// Writes `text` to a new file at `path` (exclusive create), flushed to the disk. Throws PublishError.
void WriteNewFile(const std::filesystem::path& path, const std::string& text);

// Flushes every written byte of the file system that holds `path` to the disk: one flush for many files
// costs far less than one per file. Throws PublishError.
void SyncFileSystemOf(const std::filesystem::path& path);

// The system's text for an error number.
std::string SystemErrorText(int error);

}  // namespace qelt::publish

#pragma once

#include <cstdint>
#include <functional>

namespace qelt {

// A byte range of a file, [lowerBound, upperBound] inclusive, with a cursor. Every operation range-checks against
// the bounds and throws FileOutOfBoundsException before touching any byte. One object is used by one thread at a
// time; nothing here is synchronised.
class BoundedFileData {
public:
    BoundedFileData() = default;
    BoundedFileData(const BoundedFileData&) = delete;
    BoundedFileData& operator=(const BoundedFileData&) = delete;
    virtual ~BoundedFileData() = default;

    // The current absolute file offset.
    virtual std::uint64_t Tell() = 0;
    // Moves to an absolute file offset inside the bounds.
    virtual void Seek(std::uint64_t position) = 0;
    // Copies at most 4096 bytes from the current offset out; returns how many were copied (fewer only at the end
    // of a file). A count of 0 returns 0.
    virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
    // Copies all `count` bytes in at the current offset (not cut to 4096); returns count.
    virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;
};

// Runs over the bytes of a whole view: (first byte, length). The verification passes a CRC-32 update here.
using MappedDataFunction = std::function<std::uint32_t(const std::uint8_t* data, std::uint32_t length)>;

// A view whose bytes can be reached directly in memory. Faults while the view's bytes are copied (Read, Write),
// paged in (Fetch) or passed through Apply (for example an I/O error, or a file cut shorter by someone else) are
// reported as FileInvalidMapException instead of ending the process; direct access through Data or Consume has
// no such guard.
class MemoryMappedFileData : public BoundedFileData {
public:
    // A pointer to the next `count` bytes, the cursor moved past them; null for 0.
    virtual std::uint8_t* Consume(std::uint32_t count) = 0;
    // The view's first byte (file offset lowerBound).
    virtual std::uint8_t* Data() = 0;
    // Calls `function` once with (Data(), view length) and returns its result. An empty function throws
    // std::bad_function_call.
    virtual std::uint32_t Apply(const MappedDataFunction& function) = 0;
    // Reads one byte of every page so that the view's bytes are in memory before they are needed. Changes
    // neither the cursor nor the data.
    virtual void Fetch() = 0;
    // Brings the view's pages in ready to be written, without reading or changing a byte, so that writing the view
    // takes no fault per page. For a range about to be overwritten whole. Only a hint: where the platform cannot
    // do it, or a page cannot be brought in, nothing happens and the writes themselves fault and report.
    virtual void FetchForWriting() = 0;
};

}  // namespace qelt

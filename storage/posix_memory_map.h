#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "storage/bounded_file_data.h"

namespace qelt {

class PosixMemoryMapView;

// The mapping of one open file: owns its own duplicate of the file's descriptor, from which every view is mapped.
// Created at most once per file, lazily, by the file's first Map.
class PosixMemoryMap {
public:
    // Duplicates `fileHandle`; a failure throws the mapped file error.
    explicit PosixMemoryMap(int fileHandle);
    ~PosixMemoryMap();
    PosixMemoryMap(const PosixMemoryMap&) = delete;
    PosixMemoryMap& operator=(const PosixMemoryMap&) = delete;

    // A new read-write shared view of the file bytes [first, last].
    std::shared_ptr<PosixMemoryMapView> CreateView(std::uint64_t first, std::uint64_t last);

private:
    int handle_;
};

// One mapped range [first, last] of a file with its own cursor. The mapping starts at `first` rounded down to the
// page size (the platform's allocation granularity); `delta` hides the difference. A view keeps nothing else
// alive: the mapped pages stay valid until the view is destroyed, after the file and its mapping are closed.
//
// Used by one thread at a time. Views of the same file may be used by different threads at once; two views may
// overlap, and nothing orders their writes.
class PosixMemoryMapView : public MemoryMappedFileData {
public:
    // Maps [first, last] of the file behind `handle`. FileOutOfBoundsException when first > last; std::bad_alloc
    // "bad allocation" when the view or the mapped length does not fit in 32 bits; the mapped file error when the
    // platform refuses the mapping.
    PosixMemoryMapView(int handle, std::uint64_t first, std::uint64_t last);
    ~PosixMemoryMapView() override;

    std::uint64_t Tell() override { return lowerBound_ + cursor_; }
    void Seek(std::uint64_t position) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    std::uint8_t* Consume(std::uint32_t count) override;
    std::uint8_t* Data() override { return base_ + delta_; }
    std::uint32_t Apply(const MappedDataFunction& function) override;
    void Fetch() override;

    // The distance from the start of the mapping to the view's first byte.
    std::uint32_t Delta() const { return delta_; }

private:
    std::uint32_t Length() const { return static_cast<std::uint32_t>(upperBound_ - lowerBound_ + 1); }
    // Throws FileOutOfBoundsException unless the `count` bytes at the cursor lie inside the view.
    void CheckAtCursor(std::uint32_t count) const;
    // Throws FileInvalidMapException after a fault in Apply: pages of the view may have been replaced.
    void CheckIntact() const;

    std::uint64_t lowerBound_;
    std::uint64_t upperBound_;
    std::uint8_t* base_ = nullptr;
    std::uint32_t delta_ = 0;
    std::uint32_t cursor_ = 0;
    std::size_t mappedLength_ = 0;
    bool broken_ = false;
};

}  // namespace qelt

#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "storage/bounded_file_data.h"

namespace qelt {

class PosixMemoryMapView;

// One shared read-write mapping of a range of a file, unmapped when its last user lets go. Views of the file lie
// inside windows; several views may share one.
class PosixMappedWindow {
public:
    // Maps `length` bytes of the file behind `handle` from file offset `offset`. The range may reach past the end
    // of the file; those pages are never touched. The mapped file error when the platform refuses.
    PosixMappedWindow(int handle, std::uint64_t offset, std::size_t length);
    ~PosixMappedWindow();
    PosixMappedWindow(const PosixMappedWindow&) = delete;
    PosixMappedWindow& operator=(const PosixMappedWindow&) = delete;

    std::uint64_t Offset() const { return offset_; }
    std::size_t Length() const { return length_; }
    std::uint8_t* Base() const { return base_; }
    // The address of file byte `position`, which must lie inside the window.
    std::uint8_t* At(std::uint64_t position) const { return base_ + (position - offset_); }
    bool Covers(std::uint64_t first, std::uint64_t last) const {
        return first >= offset_ && last - offset_ < length_;
    }

    // Set when a fault in Apply replaced a page of the window by zeros: from then on the window no longer shows
    // the file there, so no view of it may be used again. The fault handler sets it, before it replaces the page.
    std::atomic<bool>& BrokenFlag() { return broken_; }
    bool IsBroken() const { return broken_.load(); }

private:
    std::uint8_t* base_ = nullptr;
    std::uint64_t offset_;
    std::size_t length_;
    std::atomic<bool> broken_{false};
};

// The mapping of one open file: owns its own duplicate of the file's descriptor, from which every view is mapped.
// Created at most once per file, lazily, by the file's first Map.
//
// Windows are aligned to kGranularity bytes of the file. The kernel keeps a file's page cache in large folios; a
// mapping that starts and ends inside one is faulted in page by page, and every write fault then works on the
// whole folio, which makes small unaligned views an order of magnitude slower to write than the file itself.
// Mappings of whole granules are placed on matching virtual addresses and faulted in a folio at a time.
//
// A view that fits in one window of kWindowBytes shares that window with the other views in it; the windows made
// last stay mapped while the file is open, so that the next chunk finds its window ready and faulted in. A view
// that crosses a window's edge gets a mapping of its own, still on granule boundaries.
class PosixMemoryMap {
public:
    static constexpr std::uint64_t kGranularity = std::uint64_t{2} << 20;
    static constexpr std::uint64_t kWindowBytes = std::uint64_t{8} << 20;
    static constexpr std::size_t kRetainedWindows = 4;

    // Duplicates `fileHandle`; a failure throws the mapped file error.
    explicit PosixMemoryMap(int fileHandle);
    ~PosixMemoryMap();
    PosixMemoryMap(const PosixMemoryMap&) = delete;
    PosixMemoryMap& operator=(const PosixMemoryMap&) = delete;

    // A new read-write shared view of the file bytes [first, last]. FileOutOfBoundsException when first > last;
    // std::bad_alloc "bad allocation" when the view does not fit in 32 bits; the mapped file error when the
    // platform refuses the mapping. Any thread may call it.
    std::shared_ptr<PosixMemoryMapView> CreateView(std::uint64_t first, std::uint64_t last);

private:
    std::shared_ptr<PosixMappedWindow> WindowFor(std::uint64_t first, std::uint64_t last);
    // Forgets windows nobody uses any more, once their entries have piled up.
    void PruneWindows();

    int handle_;
    std::mutex windowsLock_;
    // Window index -> the window, while any view or the retained list holds it.
    std::unordered_map<std::uint64_t, std::weak_ptr<PosixMappedWindow>> windows_;
    std::array<std::shared_ptr<PosixMappedWindow>, kRetainedWindows> retained_;
    std::size_t nextRetained_ = 0;
    std::size_t pruneAt_ = 64;
};

// One range [first, last] of a file with its own cursor, inside a mapped window; `delta` is the distance from
// the window's start. A view keeps only its window alive: the mapped pages stay valid until the view is
// destroyed, after the file and its mapping are closed.
//
// Used by one thread at a time. Views of the same file may be used by different threads at once; two views may
// overlap, and nothing orders their writes.
class PosixMemoryMapView : public MemoryMappedFileData {
public:
    // A view of [first, last], which the window covers and whose length fits in 32 bits.
    PosixMemoryMapView(std::shared_ptr<PosixMappedWindow> window, std::uint64_t first, std::uint64_t last);

    std::uint64_t Tell() override { return lowerBound_ + cursor_; }
    void Seek(std::uint64_t position) override;
    std::uint32_t Read(void* buffer, std::uint32_t count) override;
    std::uint32_t Write(const void* buffer, std::uint32_t count) override;
    std::uint8_t* Consume(std::uint32_t count) override;
    std::uint8_t* Data() override { return data_; }
    std::uint32_t Apply(const MappedDataFunction& function) override;
    // Pages the view in with one request to the kernel rather than a fault per page; for a freshly allocated
    // range this costs about as much as the zeros it brings in.
    void Fetch() override;
    // Kernels before 5.14 lack the request for it; there the writes fault page by page as before.
    void FetchForWriting() override;

    // The distance from the start of the mapping to the view's first byte.
    std::uint32_t Delta() const { return static_cast<std::uint32_t>(lowerBound_ - window_->Offset()); }

private:
    std::uint32_t Length() const { return static_cast<std::uint32_t>(upperBound_ - lowerBound_ + 1); }
    // The start of the page that holds the view's first byte.
    std::uint8_t* FirstPage() const;
    // Throws FileOutOfBoundsException unless the `count` bytes at the cursor lie inside the view.
    void CheckAtCursor(std::uint32_t count) const;
    // Throws FileInvalidMapException once a fault in Apply, through this view or another of its window, has
    // replaced pages of the window. Checked before every access and again after it, since the replacement may
    // happen while the access runs.
    void CheckIntact() const;

    std::shared_ptr<PosixMappedWindow> window_;
    std::uint64_t lowerBound_;
    std::uint64_t upperBound_;
    std::uint8_t* data_;
    std::uint32_t cursor_ = 0;
};

}  // namespace qelt

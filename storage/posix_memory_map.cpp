#include "storage/posix_memory_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "storage/file_exception.h"
#include "storage/posix_fault_guard.h"

namespace qelt {
namespace {

constexpr std::uint32_t kMaxReadBytes = 4096;
constexpr std::uint64_t kMaxViewLength = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

std::uint64_t PageSize() {
    static const std::uint64_t size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// Brings [data, data + length) in for reading with one request; false when a page cannot be brought in (the
// request reports what would otherwise be a SIGBUS). Kernels before 5.14 lack the request: there every page is
// touched under the fault guard instead.
bool PopulateForReading(std::uint8_t* data, std::size_t length, const PosixMappedWindow& window) {
#ifdef MADV_POPULATE_READ
    for (;;) {
        if (madvise(data, length, MADV_POPULATE_READ) == 0) return true;
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno != EINVAL) return false;
        break;
    }
#endif
    return GuardedTouch(data, length, PageSize(), window.Base(), window.Length());
}

}  // namespace

PosixMappedWindow::PosixMappedWindow(int handle, std::uint64_t offset, std::size_t length)
    : offset_(offset), length_(length) {
    if (offset > kMaxOffset || length > kMaxOffset - offset) throw FileInvalidMapException();
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, handle, static_cast<off_t>(offset));
    if (base == MAP_FAILED) ThrowLastFileError();
    base_ = static_cast<std::uint8_t*>(base);
}

PosixMappedWindow::~PosixMappedWindow() {
    munmap(base_, length_);
}

PosixMemoryMap::PosixMemoryMap(int fileHandle) : handle_(fcntl(fileHandle, F_DUPFD_CLOEXEC, 0)) {
    if (handle_ < 0) ThrowLastFileError();
}

PosixMemoryMap::~PosixMemoryMap() {
    close(handle_);
}

std::shared_ptr<PosixMemoryMapView> PosixMemoryMap::CreateView(std::uint64_t first, std::uint64_t last) {
    if (first > last) throw FileOutOfBoundsException();
    if (last - first >= kMaxViewLength) ThrowBadAllocation();
    return std::make_shared<PosixMemoryMapView>(WindowFor(first, last), first, last);
}

std::shared_ptr<PosixMappedWindow> PosixMemoryMap::WindowFor(std::uint64_t first, std::uint64_t last) {
    const std::uint64_t index = first / kWindowBytes;
    if (last / kWindowBytes != index) {
        const std::uint64_t offset = first - first % kGranularity;
        const std::uint64_t span = last - offset + 1;
        // Whole granules, so that the kernel places the mapping on a granule boundary too.
        return std::make_shared<PosixMappedWindow>(
            handle_, offset, static_cast<std::size_t>(span + (kGranularity - 1)) / kGranularity * kGranularity);
    }
    std::lock_guard lock(windowsLock_);
    std::weak_ptr<PosixMappedWindow>& slot = windows_[index];
    if (auto window = slot.lock(); window && !window->IsBroken()) return window;
    auto window = std::make_shared<PosixMappedWindow>(handle_, index * kWindowBytes, kWindowBytes);
    slot = window;
    retained_[nextRetained_++ % kRetainedWindows] = window;
    PruneWindows();
    return window;
}

void PosixMemoryMap::PruneWindows() {
    if (windows_.size() < pruneAt_) return;
    std::erase_if(windows_, [](const auto& entry) { return entry.second.expired(); });
    pruneAt_ = std::max<std::size_t>(64, 2 * windows_.size());
}

PosixMemoryMapView::PosixMemoryMapView(std::shared_ptr<PosixMappedWindow> window, std::uint64_t first,
                                       std::uint64_t last)
    : window_(std::move(window)), lowerBound_(first), upperBound_(last), data_(window_->At(first)) {}

void PosixMemoryMapView::Seek(std::uint64_t position) {
    if (position < lowerBound_ || position > upperBound_) throw FileOutOfBoundsException();
    cursor_ = static_cast<std::uint32_t>(position - lowerBound_);
}

void PosixMemoryMapView::CheckAtCursor(std::uint32_t count) const {
    // cursor_ <= Length() always holds, so neither side can wrap.
    if (count > Length() - cursor_) throw FileOutOfBoundsException();
}

void PosixMemoryMapView::CheckIntact() const {
    if (window_->IsBroken()) throw FileInvalidMapException();
}

std::uint8_t* PosixMemoryMapView::Consume(std::uint32_t count) {
    if (count == 0) return nullptr;
    CheckAtCursor(count);
    std::uint8_t* bytes = data_ + cursor_;
    cursor_ += count;
    return bytes;
}

std::uint32_t PosixMemoryMapView::Read(void* buffer, std::uint32_t count) {
    const std::uint32_t n = std::min(count, kMaxReadBytes);
    const std::uint8_t* bytes = Consume(n);
    if (!bytes) return 0;
    CheckIntact();
    if (!GuardedCopy(buffer, bytes, n, window_->Base(), window_->Length())) throw FileInvalidMapException();
    CheckIntact();
    return n;
}

std::uint32_t PosixMemoryMapView::Write(const void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    CheckAtCursor(count);
    CheckIntact();
    if (!GuardedCopy(data_ + cursor_, buffer, count, window_->Base(), window_->Length()))
        throw FileInvalidMapException();
    CheckIntact();
    cursor_ += count;
    return count;
}

std::uint32_t PosixMemoryMapView::Apply(const MappedDataFunction& function) {
    if (!function) throw std::bad_function_call();
    CheckIntact();
    std::uint32_t result = 0;
    if (!GuardedApply(function, data_, Length(), window_->Base(), window_->Length(), window_->BrokenFlag(),
                      result)) {
        throw FileInvalidMapException();
    }
    CheckIntact();
    return result;
}

std::uint8_t* PosixMemoryMapView::FirstPage() const {
    const auto pageMask = static_cast<std::uintptr_t>(PageSize() - 1);
    return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(data_) & ~pageMask);
}

void PosixMemoryMapView::Fetch() {
    CheckIntact();
    // From the page that holds the first byte, so that a view that does not start on a page boundary is
    // brought in whole.
    std::uint8_t* start = FirstPage();
    if (!PopulateForReading(start, static_cast<std::size_t>(data_ + Length() - start), *window_))
        throw FileInvalidMapException();
    CheckIntact();
}

void PosixMemoryMapView::FetchForWriting() {
    CheckIntact();
#ifdef MADV_POPULATE_WRITE
    // Faults every page in writable at once, as a write would, but touches no byte: a page shared with the
    // neighbouring view keeps whatever that view writes. Any failure is left for the writes to meet under their
    // fault guard, where it is reported.
    std::uint8_t* start = FirstPage();
    while (madvise(start, static_cast<std::size_t>(data_ + Length() - start), MADV_POPULATE_WRITE) != 0 &&
           (errno == EINTR || errno == EAGAIN)) {
    }
#endif
}

}  // namespace qelt

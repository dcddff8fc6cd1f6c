#include "storage/posix_memory_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "storage/file_exception.h"
#include "storage/posix_fault_guard.h"

namespace qelt {
namespace {

constexpr std::uint32_t kMaxReadBytes = 4096;
constexpr std::uint64_t kMaxViewLength = std::numeric_limits<std::uint32_t>::max();

std::uint64_t PageSize() {
    static const std::uint64_t size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

PosixMemoryMap::PosixMemoryMap(int fileHandle) : handle_(fcntl(fileHandle, F_DUPFD_CLOEXEC, 0)) {
    if (handle_ < 0) ThrowLastFileError();
}

PosixMemoryMap::~PosixMemoryMap() {
    close(handle_);
}

std::shared_ptr<PosixMemoryMapView> PosixMemoryMap::CreateView(std::uint64_t first, std::uint64_t last) {
    return std::make_shared<PosixMemoryMapView>(handle_, first, last);
}

PosixMemoryMapView::PosixMemoryMapView(int handle, std::uint64_t first, std::uint64_t last)
    : lowerBound_(first), upperBound_(last) {
    if (first > last) throw FileOutOfBoundsException();
    if (last - first >= kMaxViewLength) ThrowBadAllocation();
    delta_ = static_cast<std::uint32_t>(first % PageSize());
    const std::uint64_t offset = first - delta_;
    if (last - offset >= kMaxViewLength) ThrowBadAllocation();
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) throw FileInvalidMapException();
    mappedLength_ = static_cast<std::size_t>(last - offset + 1);
    void* base =
        mmap(nullptr, mappedLength_, PROT_READ | PROT_WRITE, MAP_SHARED, handle, static_cast<off_t>(offset));
    if (base == MAP_FAILED) ThrowLastFileError();
    base_ = static_cast<std::uint8_t*>(base);
}

PosixMemoryMapView::~PosixMemoryMapView() {
    if (base_) munmap(base_, mappedLength_);
}

void PosixMemoryMapView::Seek(std::uint64_t position) {
    if (position < lowerBound_ || position > upperBound_) throw FileOutOfBoundsException();
    cursor_ = static_cast<std::uint32_t>(position - lowerBound_);
}

void PosixMemoryMapView::CheckAtCursor(std::uint32_t count) const {
    // cursor_ <= Length() always holds, so neither side can wrap.
    if (count > Length() - cursor_) throw FileOutOfBoundsException();
}

void PosixMemoryMapView::CheckIntact() const {
    if (broken_) throw FileInvalidMapException();
}

std::uint8_t* PosixMemoryMapView::Consume(std::uint32_t count) {
    if (count == 0) return nullptr;
    CheckAtCursor(count);
    std::uint8_t* bytes = Data() + cursor_;
    cursor_ += count;
    return bytes;
}

std::uint32_t PosixMemoryMapView::Read(void* buffer, std::uint32_t count) {
    const std::uint32_t n = std::min(count, kMaxReadBytes);
    const std::uint8_t* bytes = Consume(n);
    if (!bytes) return 0;
    CheckIntact();
    if (!GuardedCopy(buffer, bytes, n, base_, mappedLength_)) throw FileInvalidMapException();
    return n;
}

std::uint32_t PosixMemoryMapView::Write(const void* buffer, std::uint32_t count) {
    if (count == 0) return 0;
    CheckAtCursor(count);
    CheckIntact();
    if (!GuardedCopy(Data() + cursor_, buffer, count, base_, mappedLength_)) throw FileInvalidMapException();
    cursor_ += count;
    return count;
}

std::uint32_t PosixMemoryMapView::Apply(const MappedDataFunction& function) {
    if (!function) throw std::bad_function_call();
    CheckIntact();
    std::uint32_t result = 0;
    if (!GuardedApply(function, Data(), Length(), base_, mappedLength_, result)) {
        broken_ = true;
        throw FileInvalidMapException();
    }
    return result;
}

void PosixMemoryMapView::Fetch() {
    CheckIntact();
    // From the start of the mapping rather than from Data(), so that the last page of a view that does not start
    // on a page boundary is brought in too.
    if (!GuardedTouch(base_, mappedLength_, PageSize(), base_, mappedLength_)) throw FileInvalidMapException();
}

}  // namespace qelt

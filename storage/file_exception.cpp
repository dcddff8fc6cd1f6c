#include "storage/file_exception.h"

#include <new>

namespace qelt {
namespace {

class BadAllocation : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};

}  // namespace

void ThrowFileError(FileErrorKind kind) {
    switch (kind) {
        case FileErrorKind::BadPath:
            throw FileBadPathException();
        case FileErrorKind::Inaccessible:
            throw FileInaccessibleException();
        case FileErrorKind::OutOfMemory:
            ThrowBadAllocation();
        case FileErrorKind::InUse:
            throw FileInUseException();
        case FileErrorKind::InsufficientSpace:
            throw FileInsufficientSpaceException();
        case FileErrorKind::InvalidMap:
            throw FileInvalidMapException();
        case FileErrorKind::Unknown:
            break;
    }
    throw FileUnknownException();
}

void ThrowBadAllocation() {
    throw BadAllocation();
}

}  // namespace qelt

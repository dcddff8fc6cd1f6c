#include "storage/posix_file_error.h"

#include <cerrno>

namespace qelt {

FileErrorKind ClassifyPosixFileError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
        case ELOOP:
            return FileErrorKind::BadPath;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:  // a folder where the file should be: "access denied" on Windows too
            return FileErrorKind::Inaccessible;
        case ENOMEM:
            return FileErrorKind::OutOfMemory;
        case EEXIST:
        case EBUSY:
        case ETXTBSY:
        case EAGAIN:
            return FileErrorKind::InUse;
        case ENOSPC:
        case EFBIG:
        case EDQUOT:
            return FileErrorKind::InsufficientSpace;
        default:
            return FileErrorKind::Unknown;
    }
}

void ThrowPosixFileError(int error) {
    ThrowFileError(ClassifyPosixFileError(error));
}

void ThrowLastFileError() {
    ThrowPosixFileError(errno);
}

}  // namespace qelt

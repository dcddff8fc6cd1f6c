#include "storage/windows_file_error.h"

namespace qelt {

FileErrorKind ClassifyWindowsFileError(std::uint32_t code) {
    switch (code) {
        case 2:    // file not found
        case 3:    // path not found
        case 15:   // invalid drive
        case 53:   // network path not found
        case 87:   // invalid parameter
        case 111:  // file name too long
        case 123:  // invalid name
        case 161:  // bad path name
        case 582:
        case 583:
            return FileErrorKind::BadPath;
        case 5:   // access denied
        case 19:  // write-protected
            return FileErrorKind::Inaccessible;
        case 8:   // not enough memory
        case 14:  // out of memory
            return FileErrorKind::OutOfMemory;
        case 32:   // sharing violation
        case 33:   // lock violation
        case 80:   // file exists
        case 108:  // drive locked
        case 170:  // busy
            return FileErrorKind::InUse;
        case 39:   // disk full
        case 112:  // disk full
        case 223:  // file too large
        case 314:  // disk resources exhausted
            return FileErrorKind::InsufficientSpace;
        case 1006:  // file invalid
            return FileErrorKind::InvalidMap;
        default:
            return FileErrorKind::Unknown;
    }
}

}  // namespace qelt

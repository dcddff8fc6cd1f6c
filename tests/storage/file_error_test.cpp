#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <utility>
#include <vector>

#include "storage/file_exception.h"
#include "storage/posix_file_error.h"
#include "storage/windows_file_error.h"

namespace qelt {
namespace {

// Which exception ThrowFileError(kind) throws, as the kind it stands for.
FileErrorKind ThrownKind(FileErrorKind kind) {
    try {
        ThrowFileError(kind);
    } catch (const FileBadPathException&) {
        return FileErrorKind::BadPath;
    } catch (const FileInaccessibleException&) {
        return FileErrorKind::Inaccessible;
    } catch (const FileInUseException&) {
        return FileErrorKind::InUse;
    } catch (const FileInsufficientSpaceException&) {
        return FileErrorKind::InsufficientSpace;
    } catch (const FileInvalidMapException&) {
        return FileErrorKind::InvalidMap;
    } catch (const FileUnknownException&) {
        return FileErrorKind::Unknown;
    } catch (const std::bad_alloc&) {
        return FileErrorKind::OutOfMemory;
    }
    ADD_FAILURE() << "nothing thrown";
    return FileErrorKind::Unknown;
}

TEST(FileErrorTest, EachKindThrowsItsOwnClass) {
    for (auto kind :
         {FileErrorKind::BadPath, FileErrorKind::Inaccessible, FileErrorKind::OutOfMemory, FileErrorKind::InUse,
          FileErrorKind::InsufficientSpace, FileErrorKind::InvalidMap, FileErrorKind::Unknown}) {
        EXPECT_EQ(ThrownKind(kind), kind) << static_cast<int>(kind);
    }
}

TEST(FileErrorTest, OutOfMemoryIsTheStandardAllocationFailureNotAFileException) {
    try {
        ThrowFileError(FileErrorKind::OutOfMemory);
        FAIL() << "nothing thrown";
    } catch (const FileException&) {
        FAIL() << "caught as a file exception";
    } catch (const std::bad_alloc& e) {
        EXPECT_STREQ(e.what(), "bad allocation");
    }
}

TEST(FileErrorTest, WindowsCodesFollowTheTable) {
    const std::vector<std::pair<std::vector<std::uint32_t>, FileErrorKind>> table = {
        {{2, 3, 15, 53, 87, 111, 123, 161, 582, 583}, FileErrorKind::BadPath},
        {{5, 19}, FileErrorKind::Inaccessible},
        {{8, 14}, FileErrorKind::OutOfMemory},
        {{32, 33, 80, 108, 170}, FileErrorKind::InUse},
        {{39, 112, 223, 314}, FileErrorKind::InsufficientSpace},
        {{1006}, FileErrorKind::InvalidMap},
        {{0, 1, 4, 6, 13, 81, 1005, 1007, 0xFFFFFFFF}, FileErrorKind::Unknown},
    };
    for (const auto& [codes, kind] : table) {
        for (auto code : codes)
            EXPECT_EQ(ClassifyWindowsFileError(code), kind) << "code " << code;
    }
}

TEST(FileErrorTest, ExistingFileIsInUseNotABadPath) {
    EXPECT_EQ(ClassifyWindowsFileError(80), FileErrorKind::InUse);
    EXPECT_EQ(ClassifyPosixFileError(EEXIST), FileErrorKind::InUse);
}

TEST(FileErrorTest, PosixErrorsFollowTheTable) {
    const std::vector<std::pair<std::vector<int>, FileErrorKind>> table = {
        {{ENOENT, ENOTDIR, ENAMETOOLONG, EINVAL, ELOOP}, FileErrorKind::BadPath},
        {{EACCES, EPERM, EROFS, EISDIR}, FileErrorKind::Inaccessible},
        {{ENOMEM}, FileErrorKind::OutOfMemory},
        {{EEXIST, EBUSY, ETXTBSY, EAGAIN}, FileErrorKind::InUse},
        {{ENOSPC, EFBIG, EDQUOT}, FileErrorKind::InsufficientSpace},
        {{0, EIO, EBADF, EMFILE, ENODEV}, FileErrorKind::Unknown},
    };
    for (const auto& [codes, kind] : table) {
        for (auto code : codes)
            EXPECT_EQ(ClassifyPosixFileError(code), kind) << "errno " << code;
    }
}

TEST(FileErrorTest, LastFileErrorReadsErrno) {
    errno = ENOSPC;
    EXPECT_THROW(ThrowLastFileError(), FileInsufficientSpaceException);
    errno = ENOENT;
    EXPECT_THROW(ThrowLastFileError(), FileBadPathException);
    errno = EIO;
    EXPECT_THROW(ThrowLastFileError(), FileUnknownException);
}

}  // namespace
}  // namespace qelt

#pragma once

#include <cstdint>

namespace penwick {

// File error codes as the page sees them (the integer message of an error result). 0 is no error;
// 2 and 7 exist in the numbering but nothing here produces them.
enum class FileError : std::int32_t {
    NoError = 0,
    NOT_FOUND_ERR = 1,
    SECURITY_ERR = 2,
    ABORT_ERR = 3,
    NOT_READABLE_ERR = 4,
    ENCODING_ERR = 5,
    NO_MODIFICATION_ALLOWED_ERR = 6,
    INVALID_STATE_ERR = 7,
    SYNTAX_ERR = 8,
    INVALID_MODIFICATION_ERR = 9,
    QUOTA_EXCEEDED_ERR = 10,
    TYPE_MISMATCH_ERR = 11,
    PATH_EXISTS_ERR = 12,
};

constexpr std::int32_t fileErrorCode(FileError e) { return static_cast<std::int32_t>(e); }

// What went wrong on the disk, in the coarse classes the file operations tell apart. The values are
// fixed numbers that errno is mapped to, so log lines stay stable across systems; they never
// reach the page.
enum class PlatformFileError : std::int32_t {
    Other = 0,
    NoSuchFile = 4, // ENOENT, ENOTDIR
    ReadUnknown = 256, // EIO
    ReadNoSuchFile = 260,
    ReadTooLarge = 263, // EFBIG, EOVERFLOW
    WriteNoPermission = 513, // EACCES, EPERM, EROFS
    WriteOutOfSpace = 640, // ENOSPC, EDQUOT
};

PlatformFileError platformFileErrorFromErrno(int err);

} // namespace penwick

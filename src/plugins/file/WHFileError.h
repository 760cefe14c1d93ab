#pragma once

#include <cstdint>
#include <string>

#include "base/Result.h"
#include "bridge/WHPluginResult.h"

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

// What an operation was doing when the system refused it: the same errno means another thing to
// the page when reading (the file could not be read) than when changing files (no room, no right).
enum class FileAccess { Reading, Changing, Transferring };

// The one place where errno becomes a file error. ENOENT/ENOTDIR are NOT_FOUND_ERR (but for a
// transfer, which found its source and destination before it began);
// reading also counts what is no file (EISDIR, EINVAL) as not found; changing maps ENOSPC,
// EDQUOT and EFBIG to QUOTA_EXCEEDED_ERR and EACCES, EPERM, EROFS, ETXTBSY to
// NO_MODIFICATION_ALLOWED_ERR; a transfer counts EIO, EFBIG and EOVERFLOW as a source it could not
// read (NOT_READABLE_ERR). Anything else is `otherwise`.
FileError fileErrorFromErrno(int err, FileAccess access, FileError otherwise);

// fileErrorFromErrno, after a log line naming what failed, the file and the errno:
// "<what> <path> failed: <description> (errno <n>)".
FileError fileFailure(const char* what, const std::string& path, const Error& error, FileAccess access, FileError otherwise);

// The result that answers a page with a file error code.
WHPluginResult fileError(CommandStatus status, FileError error);

} // namespace penwick

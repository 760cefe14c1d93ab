#include "plugins/file/WHFileError.h"

#include <cerrno>

#include "base/Format.h"
#include "base/Log.h"

namespace penwick {

FileError fileErrorFromErrno(int err, FileAccess access, FileError otherwise)
{
    // A transfer checked its source and destination first: what vanishes meanwhile is a failed change.
    if ((err == ENOENT || err == ENOTDIR) && access != FileAccess::Transferring)
        return FileError::NOT_FOUND_ERR;
    if (access == FileAccess::Reading)
        return err == EISDIR || err == EINVAL ? FileError::NOT_FOUND_ERR : otherwise;
    if (access == FileAccess::Transferring && (err == EIO || err == EFBIG || err == EOVERFLOW))
        return FileError::NOT_READABLE_ERR;
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FileError::QUOTA_EXCEEDED_ERR;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EMLINK: // a file with more than one hard link
        return FileError::NO_MODIFICATION_ALLOWED_ERR;
    default:
        return otherwise;
    }
}

FileError fileFailure(const char* what, const std::string& path, const Error& error, FileAccess access, FileError otherwise)
{
    // A missing file is an ordinary answer to a read (an app's first run), not a failure to log.
    bool missing = (error.code == ENOENT || error.code == ENOTDIR) && access == FileAccess::Reading;
    if (!missing)
        log::message(format("%@ %@ failed: %@ (errno %@)", what, path, error.message, error.code));
    return fileErrorFromErrno(error.code, access, otherwise);
}

WHPluginResult fileError(CommandStatus status, FileError error)
{
    return WHPluginResult::resultWithStatusMessageAsInt(status, fileErrorCode(error));
}

} // namespace penwick

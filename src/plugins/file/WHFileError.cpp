#include "plugins/file/WHFileError.h"

#include <cerrno>

namespace penwick {

PlatformFileError platformFileErrorFromErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return PlatformFileError::NoSuchFile;
    case EIO:
        return PlatformFileError::ReadUnknown;
    case EFBIG:
    case EOVERFLOW:
        return PlatformFileError::ReadTooLarge;
    case EACCES:
    case EPERM:
    case EROFS:
        return PlatformFileError::WriteNoPermission;
    case ENOSPC:
    case EDQUOT:
        return PlatformFileError::WriteOutOfSpace;
    default:
        return PlatformFileError::Other;
    }
}

} // namespace penwick

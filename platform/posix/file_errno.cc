#include "platform/posix/file_errno.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/os_error.h"

namespace platform {

uint32_t OsCodeFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorFileExists;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EFBIG:
      return kErrorDiskFull;
    case EAGAIN:
    case EDEADLK:
      return kErrorLockViolation;
    case ENAMETOOLONG:
      return kErrorInvalidName;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EIO:
      return kErrorReadFault;
    default:
      return kErrorInvalidFunction;
  }
}

uint32_t OsCodeFromErrnoForPath(int error_number, const std::string& native_path) {
  if (error_number != ENOENT && error_number != ENOTDIR) return OsCodeFromErrno(error_number);
  size_t slash = native_path.find_last_of('/');
  if (slash == std::string::npos) return kErrorFileNotFound;  // relative, in the current dir
  std::string parent = slash == 0 ? "/" : native_path.substr(0, slash);
  struct stat st;
  if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
  return kErrorPathNotFound;
}

}  // namespace platform

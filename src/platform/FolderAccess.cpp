#include "platform/FolderAccess.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tlr::FolderAccess {
namespace {

// What writing into a folder takes: listing it, making names in it and
// entering it.
constexpr int kNeeded = R_OK | W_OK | X_OK;
constexpr mode_t kOwnerAll = S_IRWXU;

// 0 when the folder open as `fd` (O_PATH will do) may be written into now,
// -1 when this user may make it so (its own folder, bits alone in the way,
// on a file system that takes writes), else why not.
int check(int fd, struct stat* st) {
  if (::fstat(fd, st) != 0) return errno;
  if (!S_ISDIR(st->st_mode)) return ENOTDIR;
  if (::faccessat(fd, ".", kNeeded, AT_EACCESS) == 0) return 0;
  const int why = errno;
  // EPERM (an immutable folder), EROFS and the like: no bits change that.
  if (why != EACCES) return why;
  if (st->st_uid != ::geteuid()) return why;
  struct statvfs fs{};
  if (::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_RDONLY)) return EROFS;
  return -1;
}

// The folder `name` of `parentFd` as an O_PATH descriptor, never through a
// link; -1 with errno set.
int pathAt(int parentFd, const char* name) {
  struct stat st{};
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return -1;
  }
  return ::openat(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Sets the bits of the folder open as `fd` (O_PATH too: fchmod takes no
// such descriptor, its /proc name does, and leads to the folder itself).
int setMode(int fd, mode_t mode) {
  if (::fchmod(fd, mode) == 0) return 0;
  if (errno != EBADF) return errno;
  const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
  return ::chmod(self.constData(), mode) == 0 ? 0 : errno;
}

}  // namespace

int refusal(int folderFd) {
  struct stat st{};
  const int result = check(folderFd, &st);
  return result < 0 ? 0 : result;
}

int refusal(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int result = refusal(fd);
  ::close(fd);
  return result;
}

int refusal(int parentFd, const char* name) {
  const int fd = pathAt(parentFd, name);
  if (fd < 0) return errno;
  const int result = refusal(fd);
  ::close(fd);
  return result;
}

Writing Writing::fromPath(int pathFd) {
  Writing writing;
  if (pathFd < 0) {
    writing.error_ = errno;
    return writing;
  }
  struct stat st{};
  const int result = check(pathFd, &st);
  if (result > 0) {
    writing.error_ = result;
    ::close(pathFd);
    return writing;
  }
  if (result < 0) {
    // Its owner's for the moment; the bits come back when the writing ends.
    if (const int error = setMode(pathFd, (st.st_mode & 07777) | kOwnerAll)) {
      writing.error_ = error;
      ::close(pathFd);
      return writing;
    }
    writing.restore_ = true;
    writing.mode_ = st.st_mode & 07777;
  }
  writing.fd_ = ::openat(pathFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (writing.fd_ < 0) {
    writing.error_ = errno;
    if (writing.restore_) setMode(pathFd, writing.mode_);
    writing.restore_ = false;
  }
  ::close(pathFd);
  return writing;
}

Writing Writing::open(int parentFd, const char* name) { return fromPath(pathAt(parentFd, name)); }

Writing Writing::open(const QString& path) {
  return fromPath(::open(QFile::encodeName(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

Writing Writing::of(int folderFd) { return fromPath(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)); }

Writing::~Writing() { release(); }

Writing::Writing(Writing&& other) noexcept
    : fd_(other.fd_), error_(other.error_), restore_(other.restore_), mode_(other.mode_) {
  other.fd_ = -1;
  other.restore_ = false;
}

Writing& Writing::operator=(Writing&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    error_ = other.error_;
    restore_ = other.restore_;
    mode_ = other.mode_;
    other.fd_ = -1;
    other.restore_ = false;
  }
  return *this;
}

void Writing::release() {
  if (fd_ < 0) return;
  if (restore_) ::fchmod(fd_, mode_);
  ::close(fd_);
  fd_ = -1;
  restore_ = false;
}

}  // namespace tlr::FolderAccess

#include "platform/FileTransfer.h"

#include "platform/FileOps.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr::FileTransfer {
namespace {

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

QString failure(const QString& path, int error) {
  return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

using Fd = UniqueFd;

// Copies all of `in` to `out`: in the kernel where it can, else through a
// buffer. Returns 0 or an errno value.
int copyContent(int in, int out) {
  bool kernelCopy = true;
  while (kernelCopy) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n == 0) return 0;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM) {
      kernelCopy = false;
    } else {
      return errno;
    }
  }
  // copy_file_range may have copied a part before it gave up: go on from
  // where the descriptors stand.
  static constexpr size_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  while (true) {
    const ssize_t n = ::read(in, buffer.get(), kChunk);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(out, buffer.get() + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += w;
    }
  }
}

// Copies the regular file open as `in` (with status `st`) into a new file
// `destination`. Returns 0 or an errno value; on failure the new file is
// removed again.
int copyInto(int in, const struct stat& st, const QByteArray& destination) {
  Fd out(::open(destination.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out) return errno;
  int error = copyContent(in, out.get());
  if (!error && ::fchmod(out.get(), st.st_mode & 0777) != 0) error = errno;
  if (!error) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
  }
  if (out.close() != 0 && !error) error = errno;
  if (error) ::unlink(destination.constData());
  return error;
}

QByteArray temporarySibling(const QString& destination) {
  const QFileInfo info(destination);
  return encoded(info.path() + "/." + info.fileName() + ".tlr-" +
                 QString::number(QRandomGenerator::global()->generate64(), 36));
}

}  // namespace

std::optional<Entry> entry(const QString& path) {
  struct stat st;
  if (::lstat(encoded(path).constData(), &st) != 0) return std::nullopt;
  Entry e;
  if (S_ISREG(st.st_mode))
    e.kind = Kind::regular;
  else if (S_ISDIR(st.st_mode))
    e.kind = Kind::directory;
  else if (S_ISLNK(st.st_mode))
    e.kind = Kind::symlink;
  else
    e.kind = Kind::special;
  e.mode = st.st_mode & 07777;
  e.size = st.st_size;
  e.linkCount = st.st_nlink;
  e.modified = st.st_mtim;
  return e;
}

QString copyNew(const QString& source, const QString& destination) {
  Fd in(::open(encoded(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in) return failure(source, errno);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return failure(source, errno);
  if (!S_ISREG(st.st_mode)) return failure(source, EINVAL);
  if (const int error = copyInto(in.get(), st, encoded(destination))) return failure(destination, error);
  return {};
}

QString hardLink(const QString& existing, const QString& link) {
  if (::link(encoded(existing).constData(), encoded(link).constData()) != 0) return failure(link, errno);
  return {};
}

QString replaceFile(const QString& source, const QString& destination, bool move) {
  const QByteArray from = encoded(source);
  const QByteArray to = encoded(destination);
  struct stat target;
  if (::lstat(to.constData(), &target) == 0 && S_ISDIR(target.st_mode)) return failure(destination, EISDIR);

  // Moving: the file itself is renamed over whatever stands there, which
  // replaces it in one step.
  struct stat st;
  if (move && ::lstat(from.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
    if ((st.st_mode & 07000) && ::chmod(from.constData(), st.st_mode & 0777) != 0) return failure(source, errno);
    // Over an existing file the two are exchanged and the old one removed:
    // as atomic as a rename, without the forced write-back some file
    // systems start when a rename replaces a file.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
      ::unlink(from.constData());
      return {};
    }
    if (::rename(from.constData(), to.constData()) == 0) return {};
    if (errno != EXDEV) return failure(destination, errno);
  }

  Fd in(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in) return failure(source, errno);
  if (::fstat(in.get(), &st) != 0) return failure(source, errno);
  if (!S_ISREG(st.st_mode)) return failure(source, EINVAL);

  // Copying: the content goes to a temporary name beside the place first.
  QByteArray temporary = temporarySibling(destination);
  int error = EEXIST;
  for (int attempt = 0; attempt < 20 && error == EEXIST; ++attempt) {
    if (attempt) temporary = temporarySibling(destination);
    error = copyInto(in.get(), st, temporary);
  }
  if (error) return failure(destination, error);
  if (::rename(temporary.constData(), to.constData()) != 0) {
    const int error = errno;
    ::unlink(temporary.constData());
    return failure(destination, error);
  }
  return {};
}

namespace {

bool flagsUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// renameat2 with RENAME_NOREPLACE, or on a file system without it (some FUSE
// file systems) a plain rename after a look: 0 or an errno value.
int renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (!flagsUnsupported(errno)) return errno;
  struct stat st;
  if (::lstat(to.constData(), &st) == 0) return EEXIST;
  return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

}  // namespace

QString renameFolderIntoPlace(const QString& from, const QString& to) {
  const QByteArray source = encoded(from);
  const QByteArray target = encoded(to);
  const int first = renameNoReplace(source, target);
  if (first == 0) return {};
  if (first != EEXIST && first != ENOTEMPTY) return failure(to, first);
  if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
    // `from` now holds what stood at `to` before.
    FileOps::removeItem(from);
    return {};
  }
  if (!flagsUnsupported(errno)) return failure(to, errno);
  // No exchange on this file system: the old folder steps aside first, and
  // comes back when the new one cannot take its place.
  const QByteArray aside = temporarySibling(to);
  if (::rename(target.constData(), aside.constData()) != 0) return failure(to, errno);
  if (::rename(source.constData(), target.constData()) != 0) {
    const int error = errno;
    ::rename(aside.constData(), target.constData());
    return failure(to, error);
  }
  FileOps::removeItem(QFile::decodeName(aside));
  return {};
}

QString renameNew(const QString& from, const QString& to) {
  if (const int error = renameNoReplace(encoded(from), encoded(to))) return failure(to, error);
  return {};
}

QString sync(const QString& path) {
  Fd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
  if (!fd) return failure(path, errno);
  if (::fsync(fd.get()) != 0) return failure(path, errno);
  return {};
}

}  // namespace tlr::FileTransfer

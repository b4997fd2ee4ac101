#include "platform/FileTransfer.h"

#include "platform/FileOps.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
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

// The most data regions a hole-keeping copy or a sparse member lists; a file
// in more pieces is copied whole.
constexpr size_t kMaxRegions = 65536;

// Copies `length` bytes of `in` at `offset` to the same place of `out`: in
// the kernel where it can, else through a buffer. 0 or an errno value.
int copyRange(int in, int out, qint64 offset, qint64 length) {
  loff_t from = offset, to = offset;
  qint64 left = length;
  while (left > 0) {
    const ssize_t n = ::copy_file_range(in, &from, out, &to, static_cast<size_t>(std::min<qint64>(left, 1 << 30)), 0);
    if (n > 0) {
      left -= n;
      continue;
    }
    if (n == 0) return 0;  // shorter than it was
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EPERM) break;
    return errno;
  }
  static constexpr size_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer;
  while (left > 0) {
    if (!buffer) buffer.reset(new char[kChunk]);
    const ssize_t n = ::pread(in, buffer.get(), static_cast<size_t>(std::min<qint64>(left, kChunk)), from);
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::pwrite(out, buffer.get() + done, static_cast<size_t>(n - done), to);
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += w;
      to += w;
    }
    from += n;
    left -= n;
  }
  return 0;
}

// Copies all of `in` to `out`: in the kernel where it can, else through a
// buffer; the holes of a sparse file stay holes. Returns 0 or an errno value.
int copyContent(int in, int out) {
  struct stat st{};
  if (::fstat(in, &st) == 0 && st.st_size > 0 && static_cast<qint64>(st.st_blocks) * 512 < st.st_size) {
    if (const auto regions = dataRegions(in, st.st_size)) {
      for (const auto& [offset, length] : *regions) {
        if (const int error = copyRange(in, out, offset, length)) return error;
      }
      return ::ftruncate(out, st.st_size) == 0 ? 0 : errno;
    }
    ::lseek(in, 0, SEEK_SET);
  }
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
// `name` of the folder open as `dirFd` (AT_FDCWD: `name` is a path). Returns
// 0 or an errno value; on failure the new file is removed again.
int copyIntoAt(int in, const struct stat& st, int dirFd, const QByteArray& name) {
  Fd out(::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out) return errno;
  int error = copyContent(in, out.get());
  if (!error && ::fchmod(out.get(), st.st_mode & 0777) != 0) error = errno;
  if (!error) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out.get(), times);
  }
  if (out.close() != 0 && !error) error = errno;
  if (error) ::unlinkat(dirFd, name.constData(), 0);
  return error;
}

int copyInto(int in, const struct stat& st, const QByteArray& destination) {
  return copyIntoAt(in, st, AT_FDCWD, destination);
}

// An unused name beside `name` in the same folder.
QByteArray asideName(const QByteArray& name) {
  const qsizetype slash = name.lastIndexOf('/');
  return name.left(slash + 1) + '.' + name.mid(slash + 1) + ".tlr-" +
         QByteArray::number(QRandomGenerator::global()->generate64(), 36);
}

}  // namespace

std::optional<std::vector<std::pair<qint64, qint64>>> dataRegions(int fd, qint64 size) {
  std::vector<std::pair<qint64, qint64>> regions;
  qint64 at = 0;
  while (at < size) {
    const off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0) {
      if (errno != ENXIO) return std::nullopt;  // holes cannot be asked for here
      break;                                    // a hole to the end
    }
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0) return std::nullopt;
    if (hole > size) hole = size;
    if (hole > data) regions.emplace_back(data, hole - data);
    at = hole;
    if (regions.size() > kMaxRegions) return std::nullopt;
  }
  if (regions.size() == 1 && regions.front() == std::pair<qint64, qint64>(0, size)) return std::nullopt;
  if (regions.empty() || regions.back().first + regions.back().second < size) regions.emplace_back(size, 0);
  return regions;
}

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

Expected<void, QString> copyNew(const QString& source, const QString& destination) {
  Fd in(::open(encoded(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in) return Unexpected(failure(source, errno));
  struct stat st;
  if (::fstat(in.get(), &st) != 0) return Unexpected(failure(source, errno));
  if (!S_ISREG(st.st_mode)) return Unexpected(failure(source, EINVAL));
  if (const int error = copyInto(in.get(), st, encoded(destination))) return Unexpected(failure(destination, error));
  return {};
}

PiecewiseCopy copyInPieces(const QString& source, const QString& destination,
                           const std::function<bool(qint64 copied)>& onPiece) {
  PiecewiseCopy result;
  Fd in(::open(encoded(source).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat st{};
  if (!in || ::fstat(in.get(), &st) != 0) {
    result.error = failure(source, errno);
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.error = failure(source, EINVAL);
    return result;
  }
  const QByteArray to = encoded(destination);
  Fd out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!out) {
    result.error = failure(destination, errno);
    return result;
  }
  auto fail = [&](int error) {
    out.reset();
    ::unlink(to.constData());
    result.error = failure(destination, error);
    return result;
  };
  std::unique_ptr<char[]> buffer(new char[kCopyPiece]);
  qint64 copied = 0;
  while (true) {
    qint64 filled = 0;
    while (filled < kCopyPiece) {
      const ssize_t n = ::read(in.get(), buffer.get() + filled, static_cast<size_t>(kCopyPiece - filled));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        out.reset();
        ::unlink(to.constData());
        result.error = failure(source, errno);
        return result;
      }
      if (n == 0) break;
      filled += n;
    }
    if (filled == 0) break;
    for (qint64 done = 0; done < filled;) {
      const ssize_t w = ::write(out.get(), buffer.get() + done, static_cast<size_t>(filled - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return fail(w < 0 ? errno : ENOSPC);
      done += w;
    }
    // This piece on the disk before the next is read: a slow disk shows in
    // the count, not in one long flush at the end.
    if (::sync_file_range(out.get(), copied, filled,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0 &&
        errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ESPIPE)
      return fail(errno);
    copied += filled;
    if (onPiece && !onPiece(copied)) {
      out.reset();
      ::unlink(to.constData());
      result.stopped = true;
      return result;
    }
    if (filled < kCopyPiece) break;
  }
  if (::fchmod(out.get(), st.st_mode & 0777) != 0) return fail(errno);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(out.get(), times);
  if (::fsync(out.get()) != 0) return fail(errno);
  if (out.close() != 0) {
    const int error = errno;
    ::unlink(to.constData());
    result.error = failure(destination, error);
  }
  return result;
}

Expected<void, QString> hardLink(const QString& existing, const QString& link) {
  if (::link(encoded(existing).constData(), encoded(link).constData()) != 0) return Unexpected(failure(link, errno));
  return {};
}

int replaceFileAt(int fromDir, const QByteArray& from, int toDir, const QByteArray& to, bool move) {
  struct stat target;
  if (::fstatat(toDir, to.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(target.st_mode)) return EISDIR;

  // Moving: the file itself is renamed over whatever stands there, which
  // replaces it in one step.
  struct stat st;
  if (move && ::fstatat(fromDir, from.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
      st.st_nlink == 1) {
    if ((st.st_mode & 07000) && ::fchmodat(fromDir, from.constData(), st.st_mode & 0777, 0) != 0) return errno;
    // Over an existing file the two are exchanged and the old one removed:
    // as atomic as a rename, without the forced write-back some file
    // systems start when a rename replaces a file.
    if (::renameat2(fromDir, from.constData(), toDir, to.constData(), RENAME_EXCHANGE) == 0) {
      ::unlinkat(fromDir, from.constData(), 0);
      return 0;
    }
    if (::renameat(fromDir, from.constData(), toDir, to.constData()) == 0) return 0;
    if (errno != EXDEV) return errno;
  }

  Fd in(::openat(fromDir, from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in) return errno;
  if (::fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;

  // Copying: the content goes to a temporary name beside the place first.
  QByteArray temporary;
  int error = EEXIST;
  for (int attempt = 0; attempt < 20 && error == EEXIST; ++attempt) {
    temporary = asideName(to);
    error = copyIntoAt(in.get(), st, toDir, temporary);
  }
  if (error) return error;
  if (::renameat(toDir, temporary.constData(), toDir, to.constData()) != 0) {
    error = errno;
    ::unlinkat(toDir, temporary.constData(), 0);
    return error;
  }
  return 0;
}

int replaceWithLinkAt(int existingDir, const QByteArray& existing, int toDir, const QByteArray& to) {
  QByteArray temporary;
  int error = EEXIST;
  for (int attempt = 0; attempt < 20 && error == EEXIST; ++attempt) {
    temporary = asideName(to);
    error = ::linkat(existingDir, existing.constData(), toDir, temporary.constData(), 0) == 0 ? 0 : errno;
  }
  if (error) return error;
  if (::renameat(toDir, temporary.constData(), toDir, to.constData()) != 0) {
    error = errno;
    ::unlinkat(toDir, temporary.constData(), 0);
  }
  return error;
}

Expected<void, QString> replaceFile(const QString& source, const QString& destination, bool move) {
  const QByteArray from = encoded(source);
  const int error = replaceFileAt(AT_FDCWD, from, AT_FDCWD, encoded(destination), move);
  if (!error) return {};
  // Which side failed: the source when it cannot even be looked at.
  struct stat st;
  return Unexpected(failure(::lstat(from.constData(), &st) != 0 ? source : destination, error));
}

namespace {

bool flagsUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// renameat2 with RENAME_NOREPLACE, or on a file system without it (some FUSE
// file systems) a plain rename after a look: 0 or an errno value.
int renameNoReplace(int dirFd, const QByteArray& from, const QByteArray& to) {
  if (::renameat2(dirFd, from.constData(), dirFd, to.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (!flagsUnsupported(errno)) return errno;
  struct stat st;
  if (::fstatat(dirFd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dirFd, from.constData(), dirFd, to.constData()) == 0 ? 0 : errno;
}

int renameNoReplace(const QByteArray& from, const QByteArray& to) { return renameNoReplace(AT_FDCWD, from, to); }

// Removes the folder a new one replaced. The new one is in place either way:
// one that cannot be removed only takes room under its temporary name.
void removeOldFolder(int dirFd, const QByteArray& name) {
  static_cast<void>(dirFd == AT_FDCWD ? FileOps::removeItem(QFile::decodeName(name))
                                      : FileOps::removeItemAt(dirFd, name));
}

}  // namespace

Expected<void, QString> renameFolderIntoPlaceAt(int dirFd, const QByteArray& source, const QByteArray& target) {
  const QString to = QFile::decodeName(target);
  const int first = renameNoReplace(dirFd, source, target);
  if (first == 0) return {};
  if (first != EEXIST && first != ENOTEMPTY) return Unexpected(failure(to, first));
  if (::renameat2(dirFd, source.constData(), dirFd, target.constData(), RENAME_EXCHANGE) == 0) {
    // `source` now holds what stood at `target` before.
    removeOldFolder(dirFd, source);
    return {};
  }
  if (!flagsUnsupported(errno)) return Unexpected(failure(to, errno));
  // No exchange on this file system: the old folder steps aside first, and
  // comes back when the new one cannot take its place.
  const QByteArray aside = asideName(target);
  if (::renameat(dirFd, target.constData(), dirFd, aside.constData()) != 0) return Unexpected(failure(to, errno));
  if (::renameat(dirFd, source.constData(), dirFd, target.constData()) != 0) {
    const int error = errno;
    ::renameat(dirFd, aside.constData(), dirFd, target.constData());
    return Unexpected(failure(to, error));
  }
  removeOldFolder(dirFd, aside);
  return {};
}

Expected<void, QString> renameFolderIntoPlace(const QString& from, const QString& to) {
  return renameFolderIntoPlaceAt(AT_FDCWD, encoded(from), encoded(to));
}

Expected<void, QString> renameNew(const QString& from, const QString& to) {
  if (const int error = renameNoReplace(encoded(from), encoded(to))) return Unexpected(failure(to, error));
  return {};
}

Expected<void, QString> sync(const QString& path) {
  Fd fd(::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Unexpected(failure(path, errno));
  if (::fsync(fd.get()) != 0) return Unexpected(failure(path, errno));
  return {};
}

}  // namespace tlr::FileTransfer

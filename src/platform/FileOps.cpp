#include "platform/FileOps.h"

#include "platform/Log.h"
#include "platform/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace tlr::FileOps {
namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString failure(const QString& path, int error) { return path + QStringLiteral(": ") + errnoText(error); }

QByteArray encoded(const QString& path) { return QFile::encodeName(path); }

QString nulFailure(const QString& path) { return nulRefusal(QString(path).replace(QChar(0), QStringLiteral("\\0"))); }

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A file descriptor closed when it goes out of scope.
struct ClosingFd {
  explicit ClosingFd(int descriptor) : fd(descriptor) {}
  ClosingFd(const ClosingFd&) = delete;
  ClosingFd& operator=(const ClosingFd&) = delete;
  ~ClosingFd() {
    if (fd >= 0) ::close(fd);
  }
  const int fd;
};

// Opens the folder `name` relative to `parentFd` without following a link.
DirHandle openDirAt(int parentFd, const char* name) {
  const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* dir = ::fdopendir(fd);
  if (!dir) ::close(fd);
  return DirHandle(dir);
}

// Calls `visit(dirFd, name, stat)` for every entry of `dir`. Stops and
// returns false when `visit` does.
bool forEachEntry(DIR* dir, const std::function<bool(int, const char*, const struct stat*)>& visit) {
  const int fd = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    const bool readable = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!visit(fd, entry->d_name, readable ? &st : nullptr)) return false;
  }
  return true;
}

// The (device, inode) pairs of files with more than one name, counted once.
using SeenFiles = QSet<QPair<quint64, quint64>>;

quint64 sumBelow(DIR* dir, SeenFiles& seen) {
  quint64 sum = 0;
  forEachEntry(dir, [&](int fd, const char* name, const struct stat* st) {
    if (!st) return true;
    if (S_ISDIR(st->st_mode)) {
      if (DirHandle sub = openDirAt(fd, name)) sum += sumBelow(sub.get(), seen);
    } else {
      // A file with several names (hard links) takes its storage once.
      if (st->st_nlink > 1) {
        const QPair<quint64, quint64> id{st->st_dev, st->st_ino};
        if (seen.contains(id)) return true;
        seen.insert(id);
      }
      sum += static_cast<quint64>(st->st_blocks) * 512;
    }
    return true;
  });
  return sum;
}

// Empties the folder open as `dir`; `path` names it for error texts.
Expected<void, QString> removeContents(DIR* dir, const QString& path) {
  QString error;
  forEachEntry(dir, [&](int fd, const char* name, const struct stat* st) {
    const QString child = path + "/" + QFile::decodeName(name);
    if (st && S_ISDIR(st->st_mode)) {
      DirHandle sub = openDirAt(fd, name);
      if (!sub) {
        error = failure(child, errno);
        return false;
      }
      if (auto emptied = removeContents(sub.get(), child); !emptied) {
        error = std::move(emptied).error();
        return false;
      }
      if (::unlinkat(fd, name, AT_REMOVEDIR) != 0) {
        error = failure(child, errno);
        return false;
      }
      return true;
    }
    if (::unlinkat(fd, name, 0) != 0) {
      error = failure(child, errno);
      return false;
    }
    return true;
  });
  if (!error.isEmpty()) return Unexpected(error);
  return {};
}

// A new file of ours beside `finalPath`, under a temporary name, made 0600
// whatever the umask, that takes the place of whatever stands at
// `finalPath` once put in place (rename replaces a link itself, never its
// target). Removed again unless put in place.
class Replacement {
 public:
  explicit Replacement(const QString& finalPath) : finalPath_(finalPath) {
    const QFileInfo info(finalPath);
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
      tempName_ = encoded(info.path() + "/." + info.fileName() + ".tmp-" +
                          QString::number(QRandomGenerator::global()->generate64(), 36));
      fd_ = ::open(tempName_.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd_ < 0 && errno != EEXIST) {
        error_ = failure(info.path(), errno);
        return;
      }
    }
    if (fd_ < 0) {
      error_ = failure(info.path(), EEXIST);
      return;
    }
    // The umask can only take bits away; a umask that takes the owner's too
    // would leave a file we cannot read back.
    if (::fchmod(fd_, 0600) != 0) fail(errno);
  }
  ~Replacement() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_ && !tempName_.isEmpty()) ::unlink(tempName_.constData());
  }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Why it failed; empty while all went well.
  const QString& error() const { return error_; }
  int fd() const { return fd_; }

  void write(const QByteArray& data) {
    qsizetype written = 0;
    while (error_.isEmpty() && written < data.size()) {
      const ssize_t n = ::write(fd_, data.constData() + written, data.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return fail(errno);
      written += n;
    }
    if (error_.isEmpty() && ::fsync(fd_) != 0) fail(errno);
  }
  // Puts the file in place; with `keepOpen` the descriptor is handed over
  // (still open for writing), else closed first.
  UniqueFd place(bool keepOpen) {
    if (!error_.isEmpty()) return {};
    if (!keepOpen) {
      const int fd = std::exchange(fd_, -1);
      if (::close(fd) != 0) {
        fail(errno);
        return {};
      }
    }
    if (::rename(tempName_.constData(), encoded(finalPath_).constData()) != 0) {
      fail(errno);
      return {};
    }
    placed_ = true;
    return UniqueFd(std::exchange(fd_, -1));
  }

 private:
  void fail(int error) {
    if (error_.isEmpty()) error_ = failure(finalPath_, error);
  }

  QString finalPath_;
  QByteArray tempName_;
  int fd_ = -1;
  bool placed_ = false;
  QString error_;
};

// What stands at `path` before one of our files takes its place: a link is
// named, with where it led, once the file is in place.
struct Replaced {
  explicit Replaced(const QString& path) : path_(path) {
    struct stat old;
    if (::lstat(encoded(path).constData(), &old) == 0 && S_ISLNK(old.st_mode)) pointedAt_ = linkTarget(path).value_or(QStringLiteral("一个链接环"));
  }
  void tell() const {
    if (pointedAt_)
      log("[Files] ", QStringLiteral("%1 是一个链接（指向 %2）：已换成 Tollamere 自己的文件，链接指向的文件未改动").arg(path_, *pointedAt_));
  }
  QString path_;
  std::optional<QString> pointedAt_;
};

}  // namespace

bool holdsNul(const QString& text) { return text.contains(QChar(0)); }

QString nulRefusal(const QString& what) { return what + QStringLiteral(": holds a NUL character"); }

std::optional<ItemInfo> itemInfo(const QString& path) {
  if (holdsNul(path)) return std::nullopt;
  struct stat st;
  if (::lstat(encoded(path).constData(), &st) != 0) return std::nullopt;
  ItemInfo info;
  info.isDirectory = S_ISDIR(st.st_mode);
  info.isSymLink = S_ISLNK(st.st_mode);
  info.size = st.st_size;
  info.allocated = static_cast<qint64>(st.st_blocks) * 512;
  info.ownedByUs = st.st_uid == ::geteuid();
  return info;
}

quint64 allocatedSizeBelow(const QString& path) {
  if (holdsNul(path)) return 0;
  DirHandle dir = openDirAt(AT_FDCWD, encoded(path).constData());
  SeenFiles seen;
  return dir ? sumBelow(dir.get(), seen) : 0;
}

Expected<void, QString> removeItem(const QString& path) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const QByteArray native = encoded(path);
  struct stat st;
  if (::lstat(native.constData(), &st) != 0) return Unexpected(failure(path, errno));
  if (!S_ISDIR(st.st_mode)) {
    if (::unlink(native.constData()) != 0) return Unexpected(failure(path, errno));
    return {};
  }
  {
    DirHandle dir = openDirAt(AT_FDCWD, native.constData());
    if (!dir) return Unexpected(failure(path, errno));
    if (auto emptied = removeContents(dir.get(), path); !emptied) return emptied;
  }
  if (::rmdir(native.constData()) != 0) return Unexpected(failure(path, errno));
  return {};
}

Expected<void, QString> removeItemAt(int dirFd, const QByteArray& name) {
  const QString path = QFile::decodeName(name);
  if (name.isEmpty() || name.contains('\0') || name.contains('/')) return Unexpected(failure(path, EINVAL));
  struct stat st;
  if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Unexpected(failure(path, errno));
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name.constData(), 0) != 0) return Unexpected(failure(path, errno));
    return {};
  }
  {
    DirHandle dir = openDirAt(dirFd, name.constData());
    if (!dir) return Unexpected(failure(path, errno));
    if (auto emptied = removeContents(dir.get(), path); !emptied) return emptied;
  }
  if (::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) != 0) return Unexpected(failure(path, errno));
  return {};
}

std::optional<QString> openedPath(int fd) {
  char buffer[PATH_MAX];
  const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
  const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer);
  if (n <= 0 || n == static_cast<ssize_t>(sizeof buffer) || buffer[0] != '/') return std::nullopt;
  const QByteArray path(buffer, n);
  if (path.endsWith(" (deleted)")) return std::nullopt;
  return QFile::decodeName(path);
}

QString resolveParentLinks(const QString& absolutePath) {
  if (holdsNul(absolutePath)) return absolutePath;
  const qsizetype cut = absolutePath.lastIndexOf('/');
  if (cut <= 0) return absolutePath;
  QString existing = absolutePath.left(cut);
  QString rest = absolutePath.mid(cut);
  while (!existing.isEmpty()) {
    char resolved[PATH_MAX];
    if (::realpath(encoded(existing).constData(), resolved)) {
      QString real = QFile::decodeName(resolved);
      if (real == "/") real.clear();
      return real + rest;
    }
    const qsizetype up = existing.lastIndexOf('/');
    rest.prepend(existing.mid(up));
    existing.truncate(up);
  }
  return absolutePath;
}

std::optional<QString> linkTarget(const QString& path) {
  if (holdsNul(path)) return std::nullopt;
  QString current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(encoded(current).constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(encoded(current).constData(), buffer, sizeof buffer - 1);
    if (n < 0) return current;
    const QString target = QFile::decodeName(QByteArray(buffer, n));
    current = target.startsWith('/') ? target : QFileInfo(current).path() + "/" + target;
  }
  return std::nullopt;
}

std::optional<QByteArray> readRegularFile(const QString& path, qint64 limit) {
  // Opened without waiting, so that a FIFO with no writer answers at once.
  if (holdsNul(path)) return std::nullopt;
  const ClosingFd file(::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  const int fd = file.fd;
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  QByteArray data;
  char chunk[65536];
  while (data.size() < limit) {
    const ssize_t n = ::read(fd, chunk, static_cast<size_t>(std::min<qint64>(sizeof chunk, limit - data.size())));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    data.append(chunk, n);
  }
  return data;
}

namespace {

ReadResult readFileOpenedWith(const QString& path, qint64 limit, int extraFlags) {
  ReadResult result;
  if (holdsNul(path)) {
    result.reason = nulFailure(path);
    return result;
  }
  const ClosingFd file(::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | extraFlags));
  if (file.fd < 0) {
    if (errno == ENOENT) {
      result.status = ReadResult::Status::missing;
    } else if (errno == ELOOP && (extraFlags & O_NOFOLLOW)) {
      result.status = ReadResult::Status::notRegular;
      result.reason = path + QStringLiteral(": a symbolic link");
    } else {
      result.reason = failure(path, errno);
    }
    return result;
  }
  struct stat st;
  if (::fstat(file.fd, &st) != 0) {
    result.reason = failure(path, errno);
    return result;
  }
  result.device = st.st_dev;
  result.inode = st.st_ino;
  result.identified = true;
  if (!S_ISREG(st.st_mode)) {
    result.status = ReadResult::Status::notRegular;
    result.reason = path + QStringLiteral(": not a plain file");
    return result;
  }
  QByteArray data;
  char chunk[65536];
  for (;;) {
    // One byte beyond the limit tells a file that is too large.
    const qint64 room = limit + 1 - data.size();
    if (room <= 0) {
      result.status = ReadResult::Status::tooLarge;
      result.reason = path + QStringLiteral(": larger than %1 bytes").arg(limit);
      return result;
    }
    const ssize_t n = ::read(file.fd, chunk, static_cast<size_t>(std::min<qint64>(sizeof chunk, room)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.reason = failure(path, errno);
      return result;
    }
    if (n == 0) break;
    data.append(chunk, n);
  }
  result.status = ReadResult::Status::ok;
  result.data = std::move(data);
  return result;
}

}  // namespace

ReadResult readFile(const QString& path, qint64 limit) { return readFileOpenedWith(path, limit, 0); }

ReadResult readFileNoFollow(const QString& path, qint64 limit) {
  return readFileOpenedWith(path, limit, O_NOFOLLOW);
}

Expected<void, QString> moveAside(const QString& path, const QString& newPath, std::optional<std::pair<quint64, quint64>> identity) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  if (holdsNul(newPath)) return Unexpected(nulFailure(newPath));
  if (identity) {
    struct stat st;
    if (::stat(encoded(path).constData(), &st) != 0) return Unexpected(failure(path, errno));
    if (st.st_dev != identity->first || st.st_ino != identity->second)
      return Unexpected(path + QStringLiteral(": replaced meanwhile"));
  }
  if (::renameat2(AT_FDCWD, encoded(path).constData(), AT_FDCWD, encoded(newPath).constData(), RENAME_NOREPLACE) != 0)
    return Unexpected(failure(newPath, errno));
  return {};
}

SetAside setAsideUnreadable(const QString& path, std::optional<std::pair<quint64, quint64>> identity) {
  const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
  SetAside result;
  for (int attempt = 1; attempt <= 20; ++attempt) {
    const QString aside = path + QStringLiteral(".unreadable-") + stamp +
                          (attempt > 1 ? '-' + QString::number(attempt) : QString());
    const Expected<void, QString> moved = moveAside(path, aside, identity);
    if (moved) {
      result.path = aside;
      result.error.clear();
      return result;
    }
    result.error = moved.error();
    if (!QFileInfo::exists(aside) && !QFileInfo(aside).isSymLink()) break;
  }
  result.replaced = result.error.endsWith(QStringLiteral(": replaced meanwhile"));
  return result;
}

Expected<void, QString> appendToFile(const QString& path, const QByteArray& data, const QByteArray& separator, bool createIfMissing) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const int flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (createIfMissing ? O_CREAT | O_EXCL : 0);
  // Looked at before it is opened for writing: opening a FIFO for writing
  // would hand our text to whoever reads it, and a file nobody may write is
  // left alone also when this process could override its permissions.
  if (!createIfMissing) {
    struct stat st;
    if (::stat(encoded(path).constData(), &st) != 0) return Unexpected(failure(path, errno));
    if (!S_ISREG(st.st_mode)) return Unexpected(path + QStringLiteral(": not a plain file"));
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return Unexpected(path + QStringLiteral(": read-only file"));
  }
  const ClosingFd file(::open(encoded(path).constData(), flags, 0666));
  if (file.fd < 0) return Unexpected(failure(path, errno));
  struct stat st;
  if (::fstat(file.fd, &st) != 0) return Unexpected(failure(path, errno));
  if (!S_ISREG(st.st_mode)) return Unexpected(path + QStringLiteral(": not a plain file"));
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 && !createIfMissing)
    return Unexpected(path + QStringLiteral(": read-only file"));
  const QByteArray bytes = (st.st_size > 0 ? separator : QByteArray()) + data;
  // One write: O_APPEND places it after whatever another writer appended.
  ssize_t n;
  do {
    n = ::write(file.fd, bytes.constData(), static_cast<size_t>(bytes.size()));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Unexpected(failure(path, errno));
  if (n != bytes.size()) return Unexpected(failure(path, ENOSPC));
  if (::fsync(file.fd) != 0) return Unexpected(failure(path, errno));
  return {};
}

Expected<void, QString> makeFolders(const QString& path) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const QString clean = QDir::cleanPath(path);
  QString current = clean.startsWith('/') ? QStringLiteral("") : QStringLiteral(".");
  for (const QString& part : clean.split('/', Qt::SkipEmptyParts)) {
    current += '/' + part;
    const QByteArray native = encoded(current);
    if (::mkdir(native.constData(), 0700) == 0) {
      // The umask may have taken bits the owner needs.
      if (::chmod(native.constData(), 0700) != 0) return Unexpected(failure(current, errno));
      continue;
    }
    const int error = errno;
    struct stat st;
    if (error != EEXIST || ::stat(native.constData(), &st) != 0) return Unexpected(failure(current, error));
    if (!S_ISDIR(st.st_mode)) return Unexpected(failure(current, ENOTDIR));
  }
  return {};
}

Expected<void, QString> makeOwnFolder(const QString& path) {
  if (auto made = makeFolders(path); !made) return made;
  // Looked at through a descriptor of the folder itself, never through a
  // link: what is changed below is what was looked at.
  const ClosingFd folder(::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.fd < 0) {
    struct stat st;
    if (::lstat(encoded(path).constData(), &st) == 0 && S_ISLNK(st.st_mode))
      return Unexpected(path + QStringLiteral(": a symbolic link, not a folder"));
    return Unexpected(failure(path, errno));
  }
  struct stat st;
  if (::fstat(folder.fd, &st) != 0) return Unexpected(failure(path, errno));
  if (st.st_uid != ::geteuid()) return Unexpected(notOursAlone(folder.fd, path));
  if ((st.st_mode & 077) != 0 && ::fchmod(folder.fd, 0700) != 0) return Unexpected(failure(path, errno));
  return {};
}

QString notOursAlone(int fd, const QString& path) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return failure(path, errno);
  if (!S_ISDIR(st.st_mode)) return path + QStringLiteral(": not a folder");
  if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
    return QStringLiteral("%1: not this user's alone (owner %2, mode %3)")
        .arg(path)
        .arg(st.st_uid)
        .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
  return {};
}

Expected<void, QString> writeOwnFile(const QString& path, const QByteArray& data) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const Replaced before(path);
  Replacement file(path);
  file.write(data);
  static_cast<void>(file.place(false));
  if (!file.error().isEmpty()) return Unexpected(file.error());
  before.tell();
  return {};
}

Expected<UniqueFd, QString> openOwnFile(const QString& path) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const Replaced before(path);
  Replacement file(path);
  UniqueFd fd = file.place(true);
  if (!file.error().isEmpty()) return Unexpected(file.error());
  before.tell();
  return fd;
}

}  // namespace tlr::FileOps

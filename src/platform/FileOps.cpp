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
#include <sys/sysmacros.h>
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

// The mount the file open as `fd` lies on, from /proc: for kernels that do
// not say whether a folder is the root of a mount.
std::optional<QByteArray> mountIdOf(int fd) {
  QFile info(QStringLiteral("/proc/thread-self/fdinfo/") + QString::number(fd));
  if (!info.open(QIODevice::ReadOnly)) return std::nullopt;
  for (const QByteArray& line : info.readAll().split('\n'))
    if (line.startsWith("mnt_id:")) return line.mid(7).trimmed();
  return std::nullopt;
}

// Whether the folder `name` of the folder open as `parentFd` (`name` empty:
// that folder itself), held by a folder on `parentDevice`, is where another
// file system is mounted: it lies on another device, or it is the root of a
// mount of the same device (a bind mount). Nothing when it cannot be looked
// at or the kernel does not mark the roots of mounts. Automounts are not set
// off by the look.
std::optional<bool> mountedAt(int parentFd, const char* name, dev_t parentDevice) {
  struct statx sx {};
  const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name ? 0 : AT_EMPTY_PATH);
  if (::statx(parentFd, name, flags, STATX_TYPE | STATX_INO, &sx) != 0) return std::nullopt;
  if (makedev(sx.stx_dev_major, sx.stx_dev_minor) != parentDevice) return true;
  if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return std::nullopt;
}

// How a walk that removes or measures goes into a folder below its start.
struct Entered {
  DirHandle dir;                 // entered: the same file system
  bool otherFileSystem = false;  // another file system is mounted there: left alone
  int error = 0;                 // neither: why it could not be opened
};

// Enters the folder `name` of the folder open as `parentFd` (which lies on
// `parentDevice`), never through a link and never into another file system.
// It is looked at before it is opened (so nothing mounted there is woken or
// walked) and again once open (so a folder swapped for a mount point in
// between is still seen).
Entered enterFolder(int parentFd, dev_t parentDevice, const char* name) {
  const std::optional<bool> before = mountedAt(parentFd, name, parentDevice);
  if (before == true) return {nullptr, true, 0};
  const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {nullptr, false, errno};
  DIR* opened = ::fdopendir(fd);
  if (!opened) {
    const int error = errno;
    ::close(fd);
    return {nullptr, false, error};
  }
  DirHandle dir(opened);
  std::optional<bool> after = mountedAt(fd, "", parentDevice);
  if (!after && !before) {
    // A kernel that does not mark the roots of mounts: compare the mounts.
    const std::optional<QByteArray> inside = mountIdOf(fd), outside = mountIdOf(parentFd);
    if (inside && outside) after = *inside != *outside;
  }
  if (!after) return {nullptr, false, EIO};
  if (*after) return {nullptr, true, 0};
  return {std::move(dir), false, 0};
}

// The device of the folder open as `dir`.
std::optional<dev_t> deviceOf(DIR* dir) {
  struct stat st;
  if (::fstat(::dirfd(dir), &st) != 0) return std::nullopt;
  return st.st_dev;
}

// One entry of a folder as a walk sees it: its own attributes (a link not
// followed), and whether another file system is mounted there (a folder, or
// a file bind-mounted onto a file).
struct Entry {
  const char* name = nullptr;
  std::optional<struct stat> st;  // nothing when it cannot be read
  bool mounted = false;
};

// Calls `visit(dirFd, entry)` for every entry of `dir`, which lies on
// `device`. Stops and returns false when `visit` does.
bool forEachEntry(DIR* dir, dev_t device, const std::function<bool(int, const Entry&)>& visit) {
  const int fd = ::dirfd(dir);
  while (dirent* item = ::readdir(dir)) {
    if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
    Entry entry;
    entry.name = item->d_name;
    struct statx sx {};
    if (::statx(fd, item->d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &sx) == 0) {
      struct stat st {};
      st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
      st.st_ino = sx.stx_ino;
      st.st_mode = sx.stx_mode;
      st.st_nlink = sx.stx_nlink;
      st.st_uid = sx.stx_uid;
      st.st_gid = sx.stx_gid;
      st.st_size = static_cast<off_t>(sx.stx_size);
      st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
      entry.st = st;
      entry.mounted = st.st_dev != device ||
                      ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT));
    }
    if (!visit(fd, entry)) return false;
  }
  return true;
}

void visitBelow(DIR* dir, const std::function<void(const struct stat&)>& visit) {
  const std::optional<dev_t> device = deviceOf(dir);
  if (!device) return;
  forEachEntry(dir, *device, [&](int fd, const Entry& entry) {
    if (!entry.st || entry.mounted) return true;
    if (!S_ISDIR(entry.st->st_mode)) {
      visit(*entry.st);
    } else if (Entered sub = enterFolder(fd, *device, entry.name); sub.dir) {
      visitBelow(sub.dir.get(), visit);
    }
    return true;
  });
}

// What removing a folder's contents left.
struct Emptying {
  QString error;            // why it stopped: nothing more was tried
  QStringList mountsLeft;   // mounted folders left in place; the rest went on
};

// Empties the folder open as `dir`; `path` names it for error texts. A
// folder below it where another file system is mounted (or a file mounted
// onto a file) is left with the folders that hold it; everything else goes.
void removeContents(DIR* dir, const QString& path, Emptying& out) {
  const std::optional<dev_t> device = deviceOf(dir);
  if (!device) {
    out.error = failure(path, errno);
    return;
  }
  forEachEntry(dir, *device, [&](int fd, const Entry& entry) {
    const QString child = path + "/" + QFile::decodeName(entry.name);
    if (entry.mounted) {
      out.mountsLeft << child;
      return true;
    }
    if (entry.st && S_ISDIR(entry.st->st_mode)) {
      Entered sub = enterFolder(fd, *device, entry.name);
      if (sub.otherFileSystem) {
        out.mountsLeft << child;
        return true;
      }
      if (!sub.dir) {
        out.error = failure(child, sub.error);
        return false;
      }
      const qsizetype mountsBefore = out.mountsLeft.size();
      removeContents(sub.dir.get(), child, out);
      if (!out.error.isEmpty()) return false;
      // It holds a mounted folder: it stays, and so do the folders above it.
      if (out.mountsLeft.size() > mountsBefore) return true;
      if (::unlinkat(fd, entry.name, AT_REMOVEDIR) != 0) {
        out.error = failure(child, errno);
        return false;
      }
      return true;
    }
    if (::unlinkat(fd, entry.name, 0) != 0) {
      out.error = failure(child, errno);
      return false;
    }
    return true;
  });
}

// Removes the entry `name` of the folder open as `dirFd`; `shownAs` names it
// in what is reported.
Expected<void, RemovalFailure> removeEntry(int dirFd, const QByteArray& name, const QString& shownAs) {
  struct stat st;
  if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Unexpected(RemovalFailure{failure(shownAs, errno), {}});
  struct stat parent;
  if (::fstat(dirFd, &parent) != 0) return Unexpected(RemovalFailure{failure(shownAs, errno), {}});
  if (!S_ISDIR(st.st_mode)) {
    if (mountedAt(dirFd, name.constData(), parent.st_dev) == true) return Unexpected(RemovalFailure{{}, {shownAs}});
    if (::unlinkat(dirFd, name.constData(), 0) != 0) return Unexpected(RemovalFailure{failure(shownAs, errno), {}});
    return {};
  }
  Emptying out;
  {
    Entered dir = enterFolder(dirFd, parent.st_dev, name.constData());
    if (dir.otherFileSystem) {
      out.mountsLeft << shownAs;
    } else if (!dir.dir) {
      return Unexpected(RemovalFailure{failure(shownAs, dir.error), {}});
    } else {
      removeContents(dir.dir.get(), shownAs, out);
    }
  }
  if (!out.error.isEmpty() || !out.mountsLeft.isEmpty()) return Unexpected(RemovalFailure{out.error, out.mountsLeft});
  if (::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) != 0)
    return Unexpected(RemovalFailure{failure(shownAs, errno), {}});
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

void forEachItemBelow(const QString& folder, const std::function<void(const struct stat&)>& visit) {
  if (holdsNul(folder)) return;
  if (DirHandle dir = openDirAt(AT_FDCWD, encoded(folder).constData())) visitBelow(dir.get(), visit);
}

quint64 allocatedSizeBelow(const QString& path) {
  // The (device, inode) pairs of files with more than one name, counted once.
  QSet<QPair<quint64, quint64>> seen;
  quint64 sum = 0;
  forEachItemBelow(path, [&](const struct stat& st) {
    if (st.st_nlink > 1) {
      const QPair<quint64, quint64> id{st.st_dev, st.st_ino};
      if (seen.contains(id)) return;
      seen.insert(id);
    }
    sum += static_cast<quint64>(st.st_blocks) * 512;
  });
  return sum;
}

bool isMountPoint(const QString& path) {
  if (holdsNul(path)) return false;
  const QFileInfo info(path);
  if (info.fileName().isEmpty() || info.fileName() == "." || info.fileName() == "..") return false;
  const ClosingFd parent(::open(encoded(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st;
  if (parent.fd < 0 || ::fstat(parent.fd, &st) != 0) return false;
  return enterFolder(parent.fd, st.st_dev, encoded(info.fileName()).constData()).otherFileSystem;
}

QString RemovalFailure::reason() const {
  if (!error.isEmpty() || mountsLeft.isEmpty()) return error;
  return mountsLeft.first() + QStringLiteral(": another file system is mounted here");
}

Expected<void, RemovalFailure> removeItem(const QString& path) {
  if (holdsNul(path)) return Unexpected(RemovalFailure{nulFailure(path), {}});
  // Removed as an entry of the folder that holds it, so that a folder
  // mounted at `path` itself is seen as one.
  const qsizetype cut = path.lastIndexOf('/');
  const QString folder = cut < 0 ? QStringLiteral(".") : cut == 0 ? QStringLiteral("/") : path.left(cut);
  const QByteArray name = encoded(path.mid(cut + 1));
  if (name.isEmpty() || name == "." || name == "..") return Unexpected(RemovalFailure{failure(path, EINVAL), {}});
  const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Unexpected(RemovalFailure{failure(path, errno), {}});
  const ClosingFd holder(fd);
  return removeEntry(fd, name, path);
}

Expected<void, RemovalFailure> removeItemAt(int dirFd, const QByteArray& name) {
  const QString path = QFile::decodeName(name);
  if (name.isEmpty() || name.contains('\0') || name.contains('/') || name == "." || name == "..")
    return Unexpected(RemovalFailure{failure(path, EINVAL), {}});
  return removeEntry(dirFd, name, path);
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

Expected<void, QString> makeFolders(const QString& path, const QString& home) {
  if (holdsNul(path)) return Unexpected(nulFailure(path));
  const QString clean = QDir::cleanPath(path);
  // The home folder and those above it are only looked at.
  const QString base = QDir::cleanPath(home.isEmpty() ? QFile::decodeName(qgetenv("HOME")) : home);
  const bool belowHome = base.startsWith('/') && base != QLatin1String("/") &&
                         (clean == base || clean.startsWith(base + '/'));
  QString current = clean.startsWith('/') ? QStringLiteral("") : QStringLiteral(".");
  for (const QString& part : clean.split('/', Qt::SkipEmptyParts)) {
    current += '/' + part;
    const QByteArray native = encoded(current);
    if (belowHome && current.size() <= base.size()) {
      if (current.size() < base.size()) continue;
      struct stat st;
      if (::stat(native.constData(), &st) != 0) return Unexpected(failure(current, errno));
      if (!S_ISDIR(st.st_mode)) return Unexpected(failure(current, ENOTDIR));
      continue;
    }
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

Expected<void, QString> makeOwnFolder(const QString& path, const QString& home) {
  if (auto made = makeFolders(path, home); !made) return made;
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

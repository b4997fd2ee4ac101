#include "backup/RestoreTree.h"

#include "platform/FileTransfer.h"
#include "platform/FolderAccess.h"
#include "platform/PathNames.h"
#include "platform/UniqueFd.h"
#include "platform/Utf8.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr {
namespace {

using Case = RestoreError::Case;

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool diskFull(int error) { return error == ENOSPC || error == EDQUOT; }

// A folder being listed: owns the descriptor it was opened with.
class Listing {
 public:
  explicit Listing(UniqueFd fd) {
    if (!fd) return;
    dir_ = ::fdopendir(fd.get());
    if (dir_) fd.release();
  }
  ~Listing() {
    if (dir_) ::closedir(dir_);
  }
  Listing(const Listing&) = delete;
  Listing& operator=(const Listing&) = delete;
  bool ok() const { return dir_ != nullptr; }
  int fd() const { return ::dirfd(dir_); }
  // The next entry's name other than "." and "..", or nullptr at the end.
  const char* next() {
    while (const dirent* entry = ::readdir(dir_)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) return entry->d_name;
    }
    return nullptr;
  }

 private:
  DIR* dir_ = nullptr;
};

// The folder `name` of the folder open as `parentFd`, never through a link.
UniqueFd openFolderAt(int parentFd, const char* name) {
  return UniqueFd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

QString below(const QString& shown, const char* name) {
  return shown + '/' + displayName(QByteArrayView(name, static_cast<qsizetype>(std::strlen(name))));
}

Unexpected<RestoreError> throughLink(const QString& path) { return Unexpected(RestoreError::of(Case::linkInTheWay, path)); }
Unexpected<RestoreError> folderWhereFileGoes(const QString& path) {
  return Unexpected(RestoreError::of(Case::folderInTheWay, path));
}
Unexpected<RestoreError> notWritable(const QStringList& places) {
  return Unexpected(RestoreTree::notWritableError(places));
}
// A folder of the unpacked snapshot that could not be opened or listed (for
// its place `shown`), with the system's reason.
Unexpected<RestoreError> unreadable(const QString& shown) {
  return Unexpected(RestoreError::of(Case::copyFailed, shown + QStringLiteral(": ") + errnoText(errno)));
}
Unexpected<RestoreError> fileWhereFolderGoes(const QString& path) {
  return Unexpected(RestoreError::of(Case::fileInTheWay, path));
}

// The folder holding a source given below `baseFd` and the source's name in
// it: every folder on the way opened without following a link (AT_FDCWD:
// the source is a path and its folder is opened as written).
struct Located {
  UniqueFd parent;
  QByteArray name;
};
Located locate(int baseFd, const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  const qsizetype slash = bytes.lastIndexOf('/');
  Located located;
  located.name = bytes.mid(slash + 1);
  if (baseFd == AT_FDCWD) {
    const QByteArray folder = slash > 0 ? bytes.left(slash) : (slash == 0 ? QByteArray("/") : QByteArray("."));
    located.parent.reset(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return located;
  }
  located.parent.reset(::openat(baseFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (const QByteArray& part : (slash > 0 ? bytes.left(slash) : QByteArray()).split('/')) {
    if (part.isEmpty() || !located.parent) continue;
    located.parent = openFolderAt(located.parent.get(), part.constData());
  }
  return located;
}

// Makes the folder `path` and the missing ones above it, each in the one
// that stands above it (a folder of the user's own that withholds writing
// is opened for that moment); 0, or why not.
int makeFolders(const QString& path) {
  struct stat st{};
  if (::stat(QFile::encodeName(path).constData(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  const QString above = QFileInfo(path).path();
  if (above == path) return ENOENT;
  if (const int error = makeFolders(above)) return error;
  const FolderAccess::Writing into = FolderAccess::Writing::open(above);
  if (!into) return into.error();
  const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
  return ::mkdirat(into.fd(), name.constData(), 0777) == 0 || errno == EEXIST ? 0 : errno;
}

// The folder a target lies in, made when missing (its own links followed:
// where the user keeps an agent's folders is theirs to arrange).
Expected<void, RestoreError> openTargetParent(const QString& target, Located& out) {
  const QFileInfo info(target);
  if (const int error = makeFolders(info.path())) {
    if (diskFull(error)) return Unexpected(RestoreError::of(Case::diskFull, info.path()));
    return Unexpected(RestoreError::of(Case::copyFailed, info.path() + QStringLiteral(" 无法创建文件夹：") + errnoText(error)));
  }
  out.parent.reset(::open(QFile::encodeName(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  out.name = QFile::encodeName(info.fileName());
  if (!out.parent || out.name.isEmpty())
    return Unexpected(RestoreError::of(Case::copyFailed, info.path() + QStringLiteral(": ") + errnoText(errno)));
  return {};
}

// A standing folder opened to be written into, by the one rule of
// FolderAccess, or why not: a link standing there, or this user may not.
Expected<FolderAccess::Writing, RestoreError> writableFolder(int parentFd, const char* name, const QString& shown) {
  FolderAccess::Writing folder = FolderAccess::Writing::open(parentFd, name);
  if (folder) return folder;
  if (folder.error() == ELOOP) return throughLink(shown);
  return notWritable({shown + QStringLiteral(": ") + errnoText(folder.error())});
}

// The safety check's walk: everything tar wrote is looked at through the
// folders it opened, never through a link.
class TreeCheck {
 public:
  bool movable = true;

  Expected<void, RestoreError> folder(UniqueFd fd, const QString& shown) {
    Listing listing(std::move(fd));
    if (!listing.ok()) {
      // Gone, or not to be opened even now: nothing below it can be put
      // back by moving, and the merge cannot read it either.
      movable = false;
      return {};
    }
    QList<QByteArray> subfolders;
    while (const char* name = listing.next()) {
      const QByteArray bytes(name);
      struct stat st{};
      if (::fstatat(listing.fd(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
          return Unexpected(RestoreError::of(Case::pathTraversal, QStringLiteral("符号链接 ") + displayName(bytes)));
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
          return Unexpected(RestoreError::of(Case::pathTraversal, QStringLiteral("特殊文件 ") + displayName(bytes)));
        const mode_t original = st.st_mode & 07777;
        mode_t wanted = original & 0777;
        if (S_ISDIR(st.st_mode) && (wanted & 0700) != 0700) {
          // Opened, so that the check sees what it holds; such a folder is
          // put back by the merge, as the owner's.
          wanted |= 0700;
          movable = false;
        }
        if (wanted != original) ::fchmodat(listing.fd(), name, wanted, 0);
        if (S_ISDIR(st.st_mode)) subfolders << bytes;
      }
      if (PathNames::isParentStep(bytes)) return Unexpected(RestoreError::of(Case::pathTraversal, below(shown, name)));
    }
    for (const QByteArray& subfolder : subfolders) {
      if (auto r = folder(openFolderAt(listing.fd(), subfolder.constData()), below(shown, subfolder.constData())); !r)
        return r;
    }
    return {};
  }
};

// What putting a backed-up folder over a standing one would meet, before
// anything is written. A standing folder the restore would write into but
// may not is added to `unwritable` (the walk goes on, so all are named).
Expected<void, RestoreError> checkFolder(int sourceFd, int targetFd, const QString& shown, QStringList& unwritable) {
  Listing listing(UniqueFd(::openat(sourceFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!listing.ok()) return {};
  bool looked = false;
  while (const char* name = listing.next()) {
    if (!looked) {
      looked = true;
      if (const int error = FolderAccess::refusal(targetFd)) unwritable << shown + QStringLiteral(": ") + errnoText(error);
    }
    struct stat source{}, standing{};
    if (::fstatat(listing.fd(), name, &source, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (::fstatat(targetFd, name, &standing, AT_SYMLINK_NOFOLLOW) != 0) continue;  // free: made anew
    const QString path = below(shown, name);
    if (S_ISREG(source.st_mode)) {
      if (S_ISDIR(standing.st_mode)) return folderWhereFileGoes(path);
    } else if (S_ISDIR(source.st_mode)) {
      if (S_ISLNK(standing.st_mode)) return throughLink(path);
      if (!S_ISDIR(standing.st_mode)) return fileWhereFolderGoes(path);
      UniqueFd from = openFolderAt(listing.fd(), name), to = openFolderAt(targetFd, name);
      if (!from) continue;
      if (to) {
        if (auto r = checkFolder(from.get(), to.get(), path, unwritable); !r) return r;
        continue;
      }
      // One this user cannot even enter: looked into when it may be opened
      // (its own; its bits come back at once), else named.
      const FolderAccess::Writing opened = FolderAccess::Writing::open(targetFd, name);
      if (!opened) {
        unwritable << path + QStringLiteral(": ") + errnoText(opened.error());
        continue;
      }
      if (auto r = checkFolder(from.get(), opened.fd(), path, unwritable); !r) return r;
    }
  }
  return {};
}

// One merge of a backed-up folder into its place.
class Merge {
 public:
  Merge(bool consume, bool wholeFolders, const QHash<quint64, unsigned>* folderModes)
      : consume_(consume), wholeFolders_(consume && wholeFolders), folderModes_(folderModes) {}

  // Puts what the folder open as `sourceFd` holds into the folder open as
  // `targetFd` (`shown`). `placed` counts what was put below it.
  Expected<void, RestoreError> contents(int sourceFd, int targetFd, const QString& shown, qint64* placed) {
    Listing listing(UniqueFd(::openat(sourceFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    // What cannot be read cannot be put back: said, never skipped.
    if (!listing.ok()) return unreadable(shown);
    while (const char* name = listing.next()) {
      struct stat st{};
      if (::fstatat(listing.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISREG(st.st_mode)) {
        if (auto r = file(listing.fd(), name, targetFd, name, shown); !r) return r;
        ++*placed;
      } else if (S_ISDIR(st.st_mode)) {
        if (auto r = folder(listing.fd(), name, st, targetFd, below(shown, name), placed); !r) return r;
      }
    }
    return {};
  }

  // Puts the file `name` of `sourceFd` at `targetName` of `targetFd` (in the
  // folder `shownFolder`).
  Expected<void, RestoreError> file(int sourceFd, const char* name, int targetFd, const QByteArray& targetName,
                                   const QString& shownFolder) {
    const QString shown = below(shownFolder, targetName.constData());
    struct stat standing{};
    if (::fstatat(targetFd, targetName.constData(), &standing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(standing.st_mode))
      return folderWhereFileGoes(shown);
    // A file with several names in the backup gets them all again: the
    // first is put in place, the others are links to it.
    struct stat source{};
    const bool linked = ::fstatat(sourceFd, name, &source, AT_SYMLINK_NOFOLLOW) == 0 && source.st_nlink > 1;
    const auto first = linked ? placed_.find({source.st_dev, source.st_ino}) : placed_.end();
    const int error =
        first != placed_.end()
            ? FileTransfer::replaceWithLinkAt(first->second.folder.get(), first->second.name, targetFd, targetName)
            : FileTransfer::replaceFileAt(sourceFd, name, targetFd, targetName, consume_);
    if (error == 0 && linked && first == placed_.end() && placed_.size() < kLinkedKept) {
      UniqueFd folder(::fcntl(targetFd, F_DUPFD_CLOEXEC, 0));
      if (folder) placed_.emplace(std::make_pair(source.st_dev, source.st_ino), Placed{std::move(folder), targetName});
    }
    if (error == 0) return {};
    if (diskFull(error)) return Unexpected(RestoreError::of(Case::diskFull, shownFolder));
    return Unexpected(RestoreError::of(Case::copyFailed, shown + QStringLiteral(": ") + errnoText(error)));
  }

  // Moves the folder `name` of `sourceFd` to the free place `targetName` of
  // `targetFd` in one rename when it may; false when it did not.
  bool moveWhole(int sourceFd, const char* name, int targetFd, const QByteArray& targetName) const {
    if (!wholeFolders_) return false;
    if (::renameat2(sourceFd, name, targetFd, targetName.constData(), RENAME_NOREPLACE) == 0) return true;
    return false;
  }

  // Makes the folder `targetName` of `targetFd` for the backed-up folder
  // `name` of `sourceFd` (whose status is `st`) and fills it; it gets the
  // backed-up folder's permission bits (without set-id and sticky bits; the
  // recorded ones where unpacking had to open it to its owner) and time once
  // everything is in it.
  Expected<void, RestoreError> makeFolder(int sourceFd, const char* name, const struct stat& st, int targetFd,
                                         const QByteArray& targetName, const QString& shown, qint64* placed) {
    if (::mkdirat(targetFd, targetName.constData(), 0700) != 0) {
      if (diskFull(errno)) return Unexpected(RestoreError::of(Case::diskFull, shown));
      return Unexpected(RestoreError::of(Case::copyFailed, shown + QStringLiteral(" 无法创建文件夹")));
    }
    qint64 inside = 0;
    Expected<void, RestoreError> filled;
    {
      UniqueFd from = openFolderAt(sourceFd, name), to = openFolderAt(targetFd, targetName.constData());
      filled = from && to ? contents(from.get(), to.get(), shown, &inside) : unreadable(shown);
    }
    const unsigned mode = folderModes_ ? folderModes_->value(st.st_ino, st.st_mode & 0777) : st.st_mode & 0777;
    ::fchmodat(targetFd, targetName.constData(), mode & 0777, 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(targetFd, targetName.constData(), times, AT_SYMLINK_NOFOLLOW);
    *placed += inside;
    return filled;
  }

 private:
  // Puts the folder `name` of `sourceFd` at the same name of `targetFd`:
  // moved whole, made and filled, or merged into the folder standing there.
  Expected<void, RestoreError> folder(int sourceFd, const char* name, const struct stat& st, int targetFd,
                                     const QString& shown, qint64* placed) {
    struct stat standing{};
    if (::fstatat(targetFd, name, &standing, AT_SYMLINK_NOFOLLOW) != 0) {
      if (moveWhole(sourceFd, name, targetFd, name)) {
        ++*placed;
        return {};
      }
      return makeFolder(sourceFd, name, st, targetFd, name, shown, placed);
    }
    if (S_ISLNK(standing.st_mode)) return throughLink(shown);
    if (!S_ISDIR(standing.st_mode)) return fileWhereFolderGoes(shown);
    UniqueFd from = openFolderAt(sourceFd, name);
    if (!from) return Unexpected(RestoreError::of(Case::copyFailed, shown + QStringLiteral(": ") + errnoText(errno)));
    // Replaced by a link since it was looked at: never written through. One
    // of the user's that withholds writing (0555) is opened while its files
    // go in and gets its bits back after.
    auto to = writableFolder(targetFd, name, shown);
    if (!to) return Unexpected(std::move(to).error());
    return contents(from.get(), to.value().fd(), shown, placed);
  }

  bool consume_;
  bool wholeFolders_;
  const QHash<quint64, unsigned>* folderModes_;
  // Where the first name of each file with several names was put (as many
  // as descriptors may be kept open for).
  struct Placed {
    UniqueFd folder;
    QByteArray name;
  };
  static constexpr std::size_t kLinkedKept = 256;
  std::map<std::pair<dev_t, ino_t>, Placed> placed_;
};

}  // namespace

Expected<void, RestoreError> RestoreTree::validate(int folderFd, const QString& shown, bool* movable) {
  TreeCheck check;
  auto refused = check.folder(UniqueFd(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)), shown);
  if (movable) *movable = check.movable;
  return refused;
}

Expected<void, RestoreError> RestoreTree::validate(const QString& root, bool* movable) {
  const UniqueFd fd(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    if (movable) *movable = false;
    return {};
  }
  return validate(fd.get(), root, movable);
}

Expected<void, RestoreError> RestoreTree::check(int baseFd, const QString& source, const QString& target,
                                               QStringList* unwritableOut) {
  const Located from = locate(baseFd, source);
  struct stat st{};
  if (!from.parent || ::fstatat(from.parent.get(), from.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return {};
  QStringList unwritable;
  const auto checked = [&]() -> Expected<void, RestoreError> {
    // The folder the target is made or replaced in: the nearest one that
    // stands on the way to it.
    const auto writableAbove = [&] {
      QString folder = QFileInfo(target).path();
      while (!QFileInfo::exists(folder) && folder != QFileInfo(folder).path()) folder = QFileInfo(folder).path();
      if (const int error = FolderAccess::refusal(folder)) unwritable << folder + QStringLiteral(": ") + errnoText(error);
    };
    struct stat standing{};
    if (::lstat(QFile::encodeName(target).constData(), &standing) != 0) {  // free
      writableAbove();
      return {};
    }
    if (S_ISREG(st.st_mode)) {
      if (S_ISDIR(standing.st_mode)) return folderWhereFileGoes(target);
      writableAbove();
      return {};
    }
    if (!S_ISDIR(st.st_mode)) return {};
    // A target that is itself a link to a folder is the user's arrangement
    // and is merged into; links below it are not.
    const UniqueFd sourceFolder = openFolderAt(from.parent.get(), from.name.constData());
    UniqueFd to(::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (to) return sourceFolder ? checkFolder(sourceFolder.get(), to.get(), target, unwritable) : Expected<void, RestoreError>();
    if (errno == ENOTDIR) return fileWhereFolderGoes(target);
    // One this user cannot even enter: looked into when it may be opened.
    const FolderAccess::Writing opened = FolderAccess::Writing::open(target);
    if (!opened) {
      unwritable << target + QStringLiteral(": ") + errnoText(opened.error());
      return {};
    }
    return sourceFolder ? checkFolder(sourceFolder.get(), opened.fd(), target, unwritable) : Expected<void, RestoreError>();
  }();
  if (!checked) return checked;
  if (unwritableOut) {
    *unwritableOut << unwritable;
    return {};
  }
  if (!unwritable.isEmpty()) return notWritable(unwritable);
  return {};
}

RestoreError RestoreTree::notWritableError(const QStringList& places) {
  return RestoreError::of(Case::notWritable, places.join(QStringLiteral("; ")));
}

Expected<void, RestoreError> RestoreTree::restore(int baseFd, const QString& source, const QString& target,
                                                 bool consume, bool wholeFolders,
                                                 const QHash<quint64, unsigned>* folderModes) {
  const Located from = locate(baseFd, source);
  struct stat st{};
  if (!from.parent || ::fstatat(from.parent.get(), from.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return {};
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return {};

  Located to;
  if (auto r = openTargetParent(target, to); !r) return r;
  Merge merge(consume, wholeFolders, folderModes);
  const QString folder = QFileInfo(target).path();
  struct stat standing{};
  const bool free = ::fstatat(to.parent.get(), to.name.constData(), &standing, AT_SYMLINK_NOFOLLOW) != 0;
  if (S_ISREG(st.st_mode) || free) {
    // Written into the folder that holds the target.
    const FolderAccess::Writing parent = FolderAccess::Writing::of(to.parent.get());
    if (!parent) return notWritable({folder + QStringLiteral(": ") + errnoText(parent.error())});
    if (S_ISREG(st.st_mode)) return merge.file(from.parent.get(), from.name.constData(), parent.fd(), to.name, folder);
    // Nothing there: the whole folder goes in one step.
    if (merge.moveWhole(from.parent.get(), from.name.constData(), parent.fd(), to.name)) return {};
    qint64 placed = 0;
    return merge.makeFolder(from.parent.get(), from.name.constData(), st, parent.fd(), to.name, target, &placed);
  }
  // A folder standing there, or a link to one, is merged into.
  const FolderAccess::Writing into = FolderAccess::Writing::open(target);
  if (!into) {
    if (into.error() == ENOTDIR) return fileWhereFolderGoes(target);
    return notWritable({target + QStringLiteral(": ") + errnoText(into.error())});
  }
  const UniqueFd sourceFolder = openFolderAt(from.parent.get(), from.name.constData());
  if (!sourceFolder) return unreadable(target);
  qint64 placed = 0;
  return merge.contents(sourceFolder.get(), into.fd(), target, &placed);
}

Expected<void, RestoreError> RestoreTree::restore(const QString& source, const QString& target, bool consume,
                                                 bool wholeFolders) {
  return restore(AT_FDCWD, source, target, consume, wholeFolders);
}

}  // namespace tlr

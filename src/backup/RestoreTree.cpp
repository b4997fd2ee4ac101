#include "backup/RestoreTree.h"

#include "platform/FileTransfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr {
namespace {

using FileTransfer::Kind;
using Case = RestoreError::Case;

std::optional<RestoreError> putFile(const QString& source, const QString& target, bool consume) {
  const auto standing = FileTransfer::entry(target);
  if (standing && standing->kind == Kind::directory)
    return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 处是文件夹，无法放回文件"));
  const QString error = FileTransfer::replaceFile(source, target, consume);
  if (!error.isEmpty()) return RestoreError::of(Case::copyFailed, error);
  return std::nullopt;
}

// The safety check's walk, with raw calls: a large tree is checked in a
// fraction of the time of the restore itself.
class TreeCheck {
 public:
  bool movable = true;

  std::optional<RestoreError> folder(const QByteArray& path) {
    DIR* dir = ::opendir(path.constData());
    if (!dir) {
      // Gone, or not to be opened even now: nothing below it can be put
      // back by moving, and the merge cannot read it either.
      movable = false;
      return std::nullopt;
    }
    QList<QByteArray> subfolders;
    std::optional<RestoreError> refused;
    while (const dirent* entry = ::readdir(dir)) {
      const QByteArray name(entry->d_name);
      if (name == "." || name == "..") continue;
      const QByteArray item = path + '/' + name;
      struct stat st{};
      if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
          refused = RestoreError::of(Case::pathTraversal, QStringLiteral("符号链接 ") + QFile::decodeName(name));
          break;
        }
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
          refused = RestoreError::of(Case::pathTraversal, QStringLiteral("特殊文件 ") + QFile::decodeName(name));
          break;
        }
        const mode_t original = st.st_mode & 07777;
        mode_t wanted = original & 0777;
        if (S_ISDIR(st.st_mode) && (wanted & 0700) != 0700) {
          // Opened, so that the check sees what it holds; such a folder is
          // put back by the merge, as the owner's.
          wanted |= 0700;
          movable = false;
        }
        if (wanted != original) ::fchmodat(::dirfd(dir), entry->d_name, wanted, 0);
        if (S_ISREG(st.st_mode) && st.st_nlink > 1) movable = false;
        if (S_ISDIR(st.st_mode)) subfolders << item;
      }
      if (name.startsWith("..")) {
        refused = RestoreError::of(Case::pathTraversal, QFile::decodeName(item));
        break;
      }
    }
    ::closedir(dir);
    if (refused) return refused;
    for (const QByteArray& subfolder : subfolders) {
      if (auto error = folder(subfolder)) return error;
      // Removed when it holds nothing (the walk has been through it).
      ::rmdir(subfolder.constData());
    }
    return std::nullopt;
  }
};

// One merge of a backed-up folder into its place.
class Merge {
 public:
  Merge(bool consume, bool wholeFolders) : consume_(consume), wholeFolders_(consume && wholeFolders) {}

  // Puts what the folder `source` holds into the folder `target`, which
  // stands. `placed` counts what was put below it.
  std::optional<RestoreError> contents(const QString& source, const QString& target, qint64* placed) {
    const QStringList names =
        QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
      const QString item = source + "/" + name;
      const auto entry = FileTransfer::entry(item);
      if (!entry) continue;
      const QString destination = target + "/" + name;
      if (entry->kind == Kind::regular) {
        if (auto error = putFile(item, destination, consume_)) return error;
        ++*placed;
      } else if (entry->kind == Kind::directory) {
        if (auto error = folder(item, destination, *entry, placed)) return error;
      }
    }
    return std::nullopt;
  }

  // Moves the folder `source` to the free place `target` in one rename when
  // it may; false when it did not.
  bool moveWhole(const QString& source, const QString& target) const {
    return wholeFolders_ && FileTransfer::renameNew(source, target).isEmpty();
  }

  // Remembers that the folder `folder` was made here for a backed-up folder
  // whose attributes were `source` before anything was taken out of it.
  void madeFolder(const QString& folder, const FileTransfer::Entry& source) { made_.append({folder, source}); }

  // Gives each folder made here the permission bits (without set-id and
  // sticky bits) and the modification time of its backed-up folder, the
  // deepest first, once everything is in them.
  void giveAttributes() const {
    for (const auto& [folder, source] : made_) {
      const QByteArray path = QFile::encodeName(folder);
      ::chmod(path.constData(), source.mode & 0777);
      const struct timespec times[2] = {{0, UTIME_OMIT}, source.modified};
      ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
    }
  }

 private:
  // Puts the folder `source` (whose attributes are `attributes`) at
  // `destination`: moved whole, made and filled, or merged into the folder
  // standing there.
  std::optional<RestoreError> folder(const QString& source, const QString& destination,
                                     const FileTransfer::Entry& attributes, qint64* placed) {
    const auto standing = FileTransfer::entry(destination);
    if (!standing) {
      if (moveWhole(source, destination)) {
        ++*placed;
        return std::nullopt;
      }
      if (::mkdir(QFile::encodeName(destination).constData(), 0700) != 0)
        return RestoreError::of(Case::copyFailed, destination + QStringLiteral(" 无法创建文件夹"));
      qint64 below = 0;
      auto error = contents(source, destination, &below);
      if (below == 0 && !error) {
        // An empty folder of the backup is not made.
        ::rmdir(QFile::encodeName(destination).constData());
        return std::nullopt;
      }
      madeFolder(destination, attributes);
      *placed += below;
      return error;
    }
    // A folder standing there (or a link to one) is merged into.
    if (!QFileInfo(destination).isDir())
      return RestoreError::of(Case::copyFailed, destination + QStringLiteral(" 处是文件，无法放回文件夹"));
    return contents(source, destination, placed);
  }

  bool consume_;
  bool wholeFolders_;
  QList<std::pair<QString, FileTransfer::Entry>> made_;
};

}  // namespace

std::optional<RestoreError> RestoreTree::validate(const QString& root, bool* movable) {
  TreeCheck check;
  auto refused = check.folder(QFile::encodeName(root));
  if (movable) *movable = check.movable;
  return refused;
}

std::optional<RestoreError> RestoreTree::restore(const QString& source, const QString& target, bool consume,
                                                 bool wholeFolders) {
  const auto info = FileTransfer::entry(source);
  if (!info) return std::nullopt;
  if (info->kind == Kind::regular) {
    QDir().mkpath(QFileInfo(target).path());
    return putFile(source, target, consume);
  }
  if (info->kind != Kind::directory) return std::nullopt;

  Merge merge(consume, wholeFolders);
  if (!FileTransfer::entry(target)) {
    QDir().mkpath(QFileInfo(target).path());
    // Nothing there: the whole folder goes in one step.
    if (merge.moveWhole(source, target)) return std::nullopt;
    if (::mkdir(QFile::encodeName(target).constData(), 0700) != 0)
      return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 无法创建文件夹"));
    qint64 placed = 0;
    auto error = merge.contents(source, target, &placed);
    merge.madeFolder(target, *info);
    merge.giveAttributes();
    return error;
  }
  if (!QFileInfo(target).isDir()) return RestoreError::of(Case::copyFailed, target + QStringLiteral(" 无法创建文件夹"));
  qint64 placed = 0;
  auto error = merge.contents(source, target, &placed);
  merge.giveAttributes();
  return error;
}

}  // namespace tlr

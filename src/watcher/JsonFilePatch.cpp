#include "watcher/JsonFilePatch.h"

#include "core/json/JsonEdit.h"
#include "platform/FileOps.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tlr {
namespace {

// A configuration file larger than this is not patched.
constexpr qint64 kReadLimit = 64 * 1024 * 1024;

// A link at the backup path goes itself, so the copy is never written
// through it into the file it points at. An earlier copy stays until the new
// one replaces it whole. False when a link stays there: no copy is written.
[[nodiscard]] bool clearBackupPath(const QString& backup) {
  const std::optional<FileOps::ItemInfo> info = FileOps::itemInfo(backup);
  if (!info || !info->isSymLink) return true;
  return FileOps::removeItem(backup).ok();
}

// Writes `bytes` to `target` through a temporary file in the same folder and
// renames it over `target`. `written` runs between the two.
bool replaceFile(const QString& target, const QByteArray& bytes, QFileDevice::Permissions permissions,
                 const std::function<void()>& written, QString* error) {
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = file.errorString();
    return false;
  }
  file.setPermissions(permissions);
  if (file.write(bytes) != bytes.size()) {
    *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  if (!file.flush()) {
    *error = file.errorString();
    file.cancelWriting();
    return false;
  }
  written();
  if (!file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace

QString JsonFilePatch::backupPath(const QString& path) { return path + QStringLiteral(".tlrbak"); }

JsonFilePatch::Report JsonFilePatch::apply(const QString& path, const QList<Change>& changes,
                                           const StepHook& afterStep) {
  auto step = [&](Step s) {
    if (afterStep) afterStep(s);
  };
  // A NUL would cut the path at the system call: another file would be patched.
  if (FileOps::holdsNul(path)) return {Outcome::readFailed, FileOps::nulRefusal(QStringLiteral("file"))};
  const QFileInfo info(path);
  if (!info.exists()) return {Outcome::fileNotFound, {}};

  // Opened without waiting and read only when it is a plain file.
  const FileOps::ReadResult read = FileOps::readFile(path, kReadLimit);
  if (read.status == FileOps::ReadResult::Status::missing) return {Outcome::fileNotFound, {}};
  if (read.status != FileOps::ReadResult::Status::ok) return {Outcome::readFailed, read.reason};
  const QByteArray& original = read.data;

  const Expected<ExactJson::Value, QString> root = ExactJson::parse(original);
  if (!root) return {Outcome::parseFailed, root.error()};
  if (!root.value().isObject()) return {Outcome::notAnObject, {}};

  // The copy of the previous file; without one the patch still goes on.
  const QFileDevice::Permissions permissions = info.permissions();
  QString ignored;
  if (clearBackupPath(backupPath(path)) &&
      replaceFile(backupPath(path), original, permissions, [&] { step(Step::backupWritten); }, &ignored)) {
    step(Step::backupInPlace);
  }

  // Only the bytes of the values set change: the user's spelling of the
  // rest (a byte order mark, CRLF, tabs, escapes, arrays on one line) stays.
  QByteArray patched = original;
  for (const Change& change : changes) {
    if (std::optional<QByteArray> edited = JsonEdit::setString(patched, change.keys, change.value))
      patched = std::move(*edited);
  }

  // The file itself, not a link to it, is replaced.
  const QString target = info.isSymLink() ? info.canonicalFilePath() : path;
  QString writeError;
  if (!replaceFile(target, patched, permissions,
                   [&] { step(Step::contentWritten); }, &writeError)) {
    return {Outcome::writeFailed, writeError};
  }
  step(Step::contentInPlace);
  return {Outcome::patched, {}};
}

}  // namespace tlr

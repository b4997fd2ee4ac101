#include "watcher/JsonFilePatch.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tlr {
namespace {

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

ExactJson::Value JsonFilePatch::setNestedString(ExactJson::Value object, const QStringList& keys,
                                                const QString& value) {
  if (keys.isEmpty()) return object;
  if (keys.size() == 1) {
    object.setMember(keys.first(), ExactJson::Value::string(value));
    return object;
  }
  const ExactJson::Value* current = object.member(keys.first());
  ExactJson::Value inner = current && current->isObject() ? *current : ExactJson::Value::object();
  object.setMember(keys.first(), setNestedString(std::move(inner), keys.mid(1), value));
  return object;
}

JsonFilePatch::Report JsonFilePatch::apply(const QString& path, const QList<Change>& changes,
                                           const StepHook& afterStep) {
  auto step = [&](Step s) {
    if (afterStep) afterStep(s);
  };
  const QFileInfo info(path);
  if (!info.exists()) return {Outcome::fileNotFound, {}};

  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {Outcome::readFailed, file.errorString()};
  const QByteArray original = file.readAll();
  if (file.error() != QFileDevice::NoError) return {Outcome::readFailed, file.errorString()};
  file.close();

  QString parseError;
  std::optional<ExactJson::Value> root = ExactJson::parse(original, &parseError);
  if (!root) return {Outcome::parseFailed, parseError};
  if (!root->isObject()) return {Outcome::notAnObject, {}};

  // The copy of the previous file; without one the patch still goes on.
  const QFileDevice::Permissions permissions = info.permissions();
  QString ignored;
  if (replaceFile(backupPath(path), original, permissions, [&] { step(Step::backupWritten); }, &ignored)) {
    step(Step::backupInPlace);
  }

  for (const Change& change : changes) {
    if (change.keys.isEmpty()) continue;
    *root = setNestedString(std::move(*root), change.keys, change.value);
  }

  // The file itself, not a link to it, is replaced.
  const QString target = info.isSymLink() ? info.canonicalFilePath() : path;
  QString writeError;
  if (!replaceFile(target, ExactJson::serializePretty(*root), permissions,
                   [&] { step(Step::contentWritten); }, &writeError)) {
    return {Outcome::writeFailed, writeError};
  }
  step(Step::contentInPlace);
  return {Outcome::patched, {}};
}

}  // namespace tlr

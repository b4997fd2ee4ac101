#pragma once

#include "platform/Expected.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace tlr {

// The user defaults: one JSON object in a file, keys spelled as the rest of
// the system names them ("TLR.language"). Values keep their JSON types: a
// Boolean false is not the text "false", and a one-element list stays a list.
//
// Every change is written through at once (temporary file, then rename), so
// another process, or this one after a restart, reads what was set. A file
// that cannot be read as a JSON object (broken JSON, a truncation, a FIFO or
// a folder in its place, more than 4 MiB) reads as empty and is first moved aside as
// "defaults.json.unreadable-<UTC time>" with a log line, so nothing the user
// set is lost; when it cannot be moved, nothing is written over it. A file
// in the home folder is not written once that folder is gone (its folders
// would bring the home back). All members are safe to call from any thread.
class Defaults {
 public:
  // The defaults of the current user, at Paths::defaultsFile(). When HOME or
  // XDG_CONFIG_HOME changes, the next call binds to the new file.
  static Defaults& shared();

  explicit Defaults(QString filePath);

  const QString& filePath() const { return path_; }

  bool contains(const QString& key) const;
  // Undefined when the key is absent.
  QJsonValue value(const QString& key) const;
  std::optional<QString> string(const QString& key) const;
  std::optional<bool> boolean(const QString& key) const;
  std::optional<double> number(const QString& key) const;
  std::optional<qint64> integer(const QString& key) const;  // whole numbers only
  std::optional<QStringList> stringList(const QString& key) const;  // every element a string

  // Stores the value; an undefined value removes the key. Fails when the
  // file could not be written (a "[Defaults] " line says why); the value is
  // kept in memory regardless, for the rest of this run.
  Expected<void, QString> set(const QString& key, const QJsonValue& value);
  Expected<void, QString> remove(const QString& key);

  QJsonObject snapshot() const;
  // Reads the file again (for tests and for values another process wrote).
  void reload();

 private:
  Expected<void, QString> writeLocked();
  // Moves the unreadable file aside; false when it stays where it is.
  [[nodiscard]] bool moveAside(const QString& problem, std::optional<std::pair<quint64, quint64>> identity);

  QString path_;
  // The home folder the file lies in, when it lies in one.
  QString home_;
  mutable std::mutex mutex_;
  QJsonObject values_;
  bool unreadableKept_ = false;  // an unreadable file stands at path_: never written over
};

}  // namespace tlr
